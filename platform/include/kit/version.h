// The kit's versions, in the one place that names them. Plain macros: the resource compiler reads
// this file for the version resources of every program and DLL, and scripts/package.sh reads
// KIT_VERSION_TEXT for the package's name (camkit-<KIT_VERSION_TEXT>.zip).
//
// KIT_VERSION is the release of the kit as a whole, the ProductVersion of every file in it. Each
// program also keeps a FileVersion of its own: the version its own texts show (Tessaw's about box,
// Orlinde's caption, Kestrim's banner), which are fixed texts of those programs; a test checks
// that the two agree.
#pragma once

#define KIT_VERSION_RC 1, 0, 0, 0
#define KIT_VERSION_TEXT "1.0.0"

// Tessaw's about box: "Update Version 1.0.8.1". Tessac starts that updater and carries its number.
#define TESSAW_VERSION_RC 1, 0, 8, 1
#define TESSAW_VERSION_TEXT "1.0.8.1"
#define TESSAC_VERSION_RC TESSAW_VERSION_RC
#define TESSAC_VERSION_TEXT TESSAW_VERSION_TEXT
// Kestrim's banner: "Brevant FW matching tool version 12.11.01".
#define KESTRIM_VERSION_RC 12, 11, 1, 0
#define KESTRIM_VERSION_TEXT "12.11.01"
// Orlinde's caption: "... Tool for ALL IC v1.0.2.3_ZR".
#define ORLINDE_VERSION_RC 1, 0, 2, 3
#define ORLINDE_VERSION_TEXT "1.0.2.3"
// The kit's own helper and library, which show no version text of their own.
#define SUBSYSTEMID_VERSION_RC 1, 0, 0, 1
#define SUBSYSTEMID_VERSION_TEXT "1.0.0.1"
#define QUELMARCAMERA_VERSION_RC KIT_VERSION_RC
#define QUELMARCAMERA_VERSION_TEXT KIT_VERSION_TEXT
