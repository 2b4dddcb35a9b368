#pragma once
// Resource IDs shared by the resource script and the code.

#define IDI_APP 1            // the icon group: the executable's icon and the window's
#define IDI_APP_IMAGE 30001  // its one image, 32 x 32, 8 bits per pixel
