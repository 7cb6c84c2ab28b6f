// Resource ids of BrimSet. Plain macros: the resource compiler reads this
// file too, and so does the pure logic (ConfigLogic.h).
#pragma once

#include "SharedResource.h"

// Icon, menu and accelerators.
#define IDI_BRIMSET 107
#define IDR_MAINMENU 109
#define IDR_ACCELERATORS 109

// Frame commands.
#define IDM_ABOUT 104
#define IDM_EXIT 105
#define IDM_CONFIGURE 129

// Dialog templates.
#define IDD_ABOUTBOX 1
#define IDD_DRIVELIST 130
#define IDD_THRESHOLD 131

// The column-width resource (type named "RT_RCDATA").
#define IDR_COLUMNWIDTHS 133

// Drive list dialog controls.
#define IDC_DRIVELIST 1001
#define IDC_APPLY 1002
#define IDC_HELPPAGE 1003
#define IDC_ABOUT 1004
#define IDC_OSLOWSPACESWITCH 1009

// Threshold dialog controls.
#define IDC_DRIVENAME 1005
#define IDC_CAPACITY 1006
#define IDC_FREESPACE 1007
#define IDC_ALARMAT 1008
#define IDC_SETTOFIFTEEN 1010

// About box controls.
#define IDC_EMAILLINK 11
#define IDC_WEBLINK 12
#define IDC_UPDATELINK 13
#define IDC_FILEDESCRIPTION 14
#define IDC_FILEVERSION 15
#define IDC_COPYRIGHT 16

// Strings; the title and the texts of a failed save are among the shared
// ids. The recommendations are what RecommendationStringId (ConfigLogic.h)
// returns.
#define IDS_RECOMMEND_VERY_LOW 104
#define IDS_RECOMMEND_REDUCE_SETTING 105
#define IDS_RECOMMEND_NEAR_THRESHOLD 106
#define IDS_RECOMMEND_DEFRAGMENT 120
#define IDS_CONFIRM_DISCARD 108
#define IDS_POLICY_ACCESS_DENIED 114
#define IDS_COLUMN_DRIVE 115
#define IDS_COLUMN_CAPACITY 116
#define IDS_COLUMN_FREE_SPACE 117
#define IDS_COLUMN_ALARM_AT 118
#define IDS_COLUMN_RECOMMENDATION 119

// Texts of the command-line verbs (VerbLogic.h, Verbs.cpp): error lines and
// the header of /list.
#define IDS_VERB_BAD_ASSIGNMENT 140
#define IDS_VERB_NO_ASSIGNMENT 141
#define IDS_VERB_BAD_OSWARNING 142
#define IDS_VERB_NOT_FIXED 143
#define IDS_VERB_SAVE_FAILED 144
#define IDS_VERB_OSWARNING_UNAVAILABLE 145
#define IDS_LIST_HEADER 146
#define IDS_VERB_UNKNOWN 147
#define IDS_VERB_UNEXPECTED 148
#define IDS_VERB_CLOSE_NOT_ALONE 149
#define IDS_VERB_USAGE 150
