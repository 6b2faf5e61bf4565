// Pellimor's start-up values: its folder, the branding record's company,
// product, language, default image and flags, and the BIOS blob that ships
// beside it ("\Resources\*.mcd").
#pragma once

#include <cstdint>

#include "platform/core/cstring.h"
#include "program_support/program_values.h"  // ProgramFolder

extern CString HelpFilePath;
extern CString BrandCompany;   // "\n" in the record already a line feed
extern CString BrandProduct;
extern CString BrandLanguage;
extern CString DefaultIsoPath;
extern uint32_t BrandingFlags;
// Bit 1 of the flags: a blob is required at start-up and written even for
// Windows boot images. (Bit 0 is WriteBootLoader, iso_reader.h.)
extern bool NeedBiosBlob;

inline constexpr uint32_t kBiosBlobCapacity = 65536;
inline constexpr uint32_t kBiosBlobMaxLength = 65535;
extern uint8_t BiosBlob[kBiosBlobCapacity];
extern uint32_t BiosBlobLength;

// The folder of a program path: up to its last backslash (searched from the
// second character).
CString ProgramFolderOf(const CString& programPath);

// Reads ProgramFolder\Resources\inf.dll into the values above; a missing
// record shows "INF.Dll File not found. Aborting..." and ends the process (a
// record shorter than its 17,380 bytes "INF.Dll File is incomplete."), a
// required blob that cannot be loaded shows "Illegal BIOS File" and ends it.
void LoadBrandingConfig();
// The first "*.mcd" of ProgramFolder\Resources (or one the user picks), at
// most 65,535 bytes, into BiosBlob.
bool LoadBiosBlob();
// The file name of the first match of a wildcard path, or empty.
CString FindBiosBlobFile(const CString& wildcard);
// The image dialog ("ISO Files (*.iso)"): true when one was chosen;
// SourceIsoPath takes the choice (empty when cancelled).
bool ChooseIsoFile();
