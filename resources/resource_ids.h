// Identifiers of the configuration dialog's resources and controls, shared by
// the resource script and the dialog code. Plain defines: the resource
// compiler reads this file too.
#pragma once

#define IDD_CONFIG 101
#define IDB_PRINTER_ARROWS 104

// String table.
#define IDS_CONFIG_CAPTION 103
#define IDS_MEDIA_TYPE 104
#define IDS_MEDIA_FIRST 105 /* 105 to 110: the six media names in list order */
#define IDS_POSITION_GROUP 111
#define IDS_VERTICAL 112
#define IDS_HORIZONTAL 113
#define IDS_UNIT 114
#define IDS_PRINT_ERRORS 115
#define IDS_FORCE_PRINTING 116
#define IDS_PRINT_SETTINGS 117
#define IDS_CUT_GROUP 118
#define IDS_AUTO_CUT 119
#define IDS_NO_AUTO_CUT 120
#define IDS_CUT_INTERVAL 121
#define IDS_TIMING_FIRST 122 /* 122 to 124: the three cut timings in list order */
#define IDS_PRINT_QUALITY 125
#define IDS_SPEED 126
#define IDS_QUALITY 127
#define IDS_BIDIRECTIONAL 128
#define IDS_BANDING_REDUCTION 129

// Controls.
#define IDC_MEDIA_LIST 1001
#define IDC_VERTICAL_EDIT 1002
#define IDC_HORIZONTAL_EDIT 1003
#define IDC_UNIT_MM 1004
#define IDC_UNIT_INCH 1005
#define IDC_MEDIA_LABEL 1006
#define IDC_VERTICAL_LABEL 1007
#define IDC_HORIZONTAL_LABEL 1008
#define IDC_VERTICAL_RANGE 1009
#define IDC_HORIZONTAL_RANGE 1010
#define IDC_UNIT_GROUP 1011
#define IDC_POSITION_GROUP 1012
#define IDC_PRINT_ERRORS 1013
#define IDC_FORCE_PRINTING 1014
#define IDC_PRINT_GROUP 1016
#define IDC_AUTO_CUT 1017
#define IDC_NO_AUTO_CUT 1018
#define IDC_CUT_TIMING 1019
#define IDC_CUT_INTERVAL 1020
#define IDC_CUT_GROUP 1021
#define IDC_CUT_INTERVAL_LABEL 1022
#define IDC_QUALITY_SLIDER 1023
#define IDC_SPEED_LABEL 1024
#define IDC_QUALITY_LABEL 1025
#define IDC_BIDIRECTIONAL 1026
#define IDC_BANDING_REDUCTION 1027
#define IDC_PRINT_QUALITY_LABEL 1028
