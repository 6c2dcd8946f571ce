// The image list object a client hands the menu component: an automation object over a real
// HIMAGELIST with the members of the common-controls image list that the component calls:
//   ImageWidth, ImageHeight        picture size in pixels (read-only)
//   hImageList                     the list's handle
//   Count                          number of pictures
//   ListImages(index)              the picture at index, counted from 1 as the common-controls
//                                  image list counts (0 and indexes above Count raise error 35600)
// and each picture:
//   Index                          its index, from 1
//   Draw(hDC, [x], [y], [style])   draws it into hDC with its top-left corner at x, y in twips;
//                                  style 0 normal, 1 transparent, 2 selected, 3 focus
//   ExtractIcon                    a new picture object whose default property (DISPID 0) is an
//                                  icon of the image; the icon lives as long as that object
#pragma once
#include <windows.h>
#include <commctrl.h>
#include <oaidl.h>

#include <string>
#include <vector>

#include "com_ptr.h"

namespace client {

// Index out of bounds, the image list's own error number.
constexpr long kErrIndexOutOfBounds = 35600;

// Wraps list (the object takes ownership and destroys it with its last reference).
common::com_ptr<IDispatch> NewImageListObject(HIMAGELIST list);

// Makes an image list of width x height pictures from bitmap files; pixels of mask_color are
// transparent. Returns null when a file cannot be read or is not width x height.
HIMAGELIST LoadImageListFromFiles(int width, int height, const std::vector<std::wstring>& files, COLORREF mask_color);

}  // namespace client
