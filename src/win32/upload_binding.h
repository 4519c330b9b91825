// The inventory upload on Windows: the server setting from the environment
// or the registry, WinHTTP, XmlLite, and the exchange on a worker thread
// while the caller's thread keeps answering its messages.
#pragma once

#include <optional>
#include <string>

#include "upload/inventory_upload.h"

namespace tallowin::win32 {

// The setting: an explicit one (the command line's --server), else
// TALLOWIN_INVENTORY_SERVER, else HKLM\SOFTWARE\Tallowin\InventoryServer.
ServerChoice ResolveServer(const std::optional<std::string>& explicitSetting);

// Runs the whole upload for the control; pumps messages during the exchange
// when pumpMessages is set (the window), blocks otherwise (the console).
UploadOutcome RunInventoryUpload(ProfileControl& control, const std::optional<std::string>& explicitSetting,
                                 bool pumpMessages);

// Makes every frmMain window of the process run the upload on Command1 and
// at its start.
void InstallWindowUpload();

}  // namespace tallowin::win32
