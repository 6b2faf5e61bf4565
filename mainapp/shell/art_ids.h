// Resource ids of the program's generated pictures (drawn at build time by
// resources/art; every one is in the program's resource table).
#pragma once

#include "resources/menu_commands.h"

namespace shell::art {

// Main dialog background, stretched (48 x 48).
constexpr unsigned kMainBackground = 248;
// Banner shown at start (796 x 230); the hidden strip under the pictures.
constexpr unsigned kBannerStart = 253;
constexpr unsigned kBottomStrip = 274;  // 144 x 21
// Tiled background of the disk health page (240 x 60): its own dark picture,
// since 1204 is the Japanese Files/Folders picture and white text is lost on it.
constexpr unsigned kHealthTile = 1206;
// Splash background (tiled) and the splash picture, both 640 x 480.
constexpr unsigned kSplashBackground = 1205;
constexpr unsigned kSplashPicture = 307;
// The program icon.
constexpr unsigned kProgramIcon = 142;

// One picture button: its normal, selected and hover images in the English
// and in the other set (240 x 60 each), and its three banner frames.
struct PictureArt {
  int control;
  unsigned english[3];
  unsigned other[3];
  unsigned banner[3];
};

// In the order of the picture codes 1 to 6.
inline constexpr PictureArt kPictures[6] = {
    {1002, {185, 187, 186}, {283, 285, 284}, {251, 252, 253}},     // Duplicate
    {1003, {182, 184, 183}, {286, 199, 287}, {254, 255, 256}},     // Delete
    {1004, {188, 190, 189}, {292, 294, 293}, {257, 258, 259}},     // Scan
    {1006, {222, 231, 230}, {289, 291, 290}, {260, 261, 262}},     // One Click
    {1005, {250, 267, 266}, {295, 297, 296}, {263, 264, 265}},     // partition manager
    {1007, {300, 302, 299}, {1204, 303, 301}, {304, 305, 306}},    // Files/Folders
};

// Menu commands that carry a 16 x 16 icon of the same number.
inline constexpr unsigned kMenuIcons[] = {
    kCmdDuplicate, kCmdDelete, kCmdScan, kCmdExit,
    kCmdHelp, kCmdAbout, kCmdDriverInstallation, kCmdOneClick,
    kCmdPellimorResources, kCmdFilesMigration, kCmdPellimorTools, kCmdUsbToolInstaller,
};

}  // namespace shell::art
