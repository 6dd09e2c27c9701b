// The engine's reports to the page: progress texts, item attributes and
// download progress. Each is a call of the page's global function of the
// same name through the main dialog; without a dialog nothing is sent.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/errors.h"

namespace Zentrovak::Assistant {

Platform::HResult setHtmlItemText(std::u16string_view elementId, std::u16string_view content);
// Both texts from the string table (at most 256 characters each); nothing is
// sent unless both exist.
Platform::HResult setHtmlItemText(uint32_t elementIdString, uint32_t contentString);
// The value is UTF-8 from the configuration; names are ASCII.
Platform::HResult setItemInfo(int32_t itemNumber, std::string_view name, std::string_view value);
// percent 0..100; item -1 stands for the assistant's own update.
Platform::HResult setProgress(bool success, int32_t percent, int32_t itemNumber);

}  // namespace Zentrovak::Assistant
