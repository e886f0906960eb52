#pragma once

// Ids of the program's Windows resources, shared by the resource script and the code.
#define QVX_FIRMWARE_RESOURCE 100  // type "JPG"
#define QVX_LOGO_BITMAP 101
#define QVX_ICON_GROUP 1  // the icons 30001 (32 x 32) and 30002 (16 x 16)
