// Resource and control identifiers of the Save Options dialog (shared by the .rc and the
// dialog procedure; plain macros so that windres can read them).
#pragma once

#define VELLUM_IDD_SAVE_OPTIONS 101
#define VELLUM_IDC_OK 1
#define VELLUM_IDC_PROGRESSIVE 1001
#define VELLUM_IDC_MIPMAP_SPIN 1002
#define VELLUM_IDC_QUALITY_SCROLL 1004
#define VELLUM_IDC_QUALITY_TEXT 1005
#define VELLUM_IDC_FORMAT 1007
#define VELLUM_IDC_QUANTIZER 1008
#define VELLUM_IDC_MIPMAP_EDIT 1011
