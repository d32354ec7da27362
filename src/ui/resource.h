// Resource ids of Burnwright, shared by the resource script and the code.
#pragma once

#define IDD_TEST_DIALOG             102
#define IDR_MAINFRAME               128

#define IDC_TEST_CPU                1000
#define IDC_TEST_MEMORY             1001
#define IDC_TEST_VPU                1002
#define IDC_TEST_VIDEO_MEMORY       1003
#define IDC_THREAD_COUNT            1005
#define IDC_HOURS_SPIN              1007
#define IDC_HOURS                   1008
#define IDC_LOG_CPU_TEMPERATURE     1009
#define IDC_MEMORY_SIZE             1010
#define IDC_RENDER_TARGET_SIZE      1011
#define IDC_TEXTURE_COUNT           1012
#define IDC_TEXTURE_SIZE            1013
#define IDC_MINUTES_SPIN            1014
#define IDC_MINUTES                 1015
#define IDC_LOG_INTERVAL_SPIN       1016
#define IDC_LOG_INTERVAL            1017
#define IDC_LOG_VPU_TEMPERATURE     1018
#define IDC_LOG_CPU_LOAD            1019
#define IDC_RUN_TEST                1020
#define IDC_LOG_CPU_FREQUENCY       1021
#define IDC_LOG_LIST                1023
#define IDC_SHOW_HISTORY            1024

#ifndef IDC_STATIC
#define IDC_STATIC                  (-1)
#endif
