#pragma once
// The SHA-256 compression function computed a round at a time with general
// registers: the crypto class's reference for its SHA unit.

// state (a to h) advanced by one 64-round compression of the sixteen message
// words, the initial state added.
void Sha256Compress(unsigned int state[8], const unsigned int message[16]);
