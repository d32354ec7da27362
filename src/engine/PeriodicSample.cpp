// Stand-in until the periodic sample is merged: the run goes on at every tick.
// The real SampleTick replaces this file.
#include "engine/TestEngine.h"

HRESULT CTestEngine::SampleTick()
{
    return S_OK;
}
