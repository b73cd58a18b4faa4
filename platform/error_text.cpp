#include "platform/error_text.h"

#include <string>

namespace {

struct CErrorText {
  DWORD dwError;
  const wchar_t* pszText;
};

// The codes the file and process services give, in the words of the device's message table.
constexpr CErrorText kTexts[] = {
    {ERROR_SUCCESS, L"The operation completed successfully."},
    {ERROR_FILE_NOT_FOUND, L"The system cannot find the file specified."},
    {ERROR_PATH_NOT_FOUND, L"The system cannot find the path specified."},
    {ERROR_ACCESS_DENIED, L"Access is denied."},
    {ERROR_INVALID_HANDLE, L"The handle is invalid."},
    {ERROR_NOT_ENOUGH_MEMORY, L"Not enough storage is available to process this command."},
    {ERROR_NO_MORE_FILES, L"There are no more files."},
    {ERROR_WRITE_PROTECT, L"The media is write protected."},
    {ERROR_READ_FAULT, L"The system cannot read from the specified device."},
    {ERROR_GEN_FAILURE, L"A device attached to the system is not functioning."},
    {ERROR_SHARING_VIOLATION,
     L"The process cannot access the file because it is being used by another process."},
    {ERROR_FILE_EXISTS, L"The file exists."},
    {ERROR_INVALID_PARAMETER, L"The parameter is incorrect."},
    {ERROR_DISK_FULL, L"There is not enough space on the disk."},
    {ERROR_INVALID_NAME, L"The filename, directory name, or volume label syntax is incorrect."},
    {ERROR_DIR_NOT_EMPTY, L"The directory is not empty."},
    {ERROR_ALREADY_EXISTS, L"Cannot create a file when that file already exists."},
    {ERROR_FILENAME_EXCED_RANGE, L"The filename or extension is too long."},
    {ERROR_DIRECTORY, L"The directory name is invalid."},
    {ERROR_TIMEOUT, L"This operation returned because the timeout period expired."},
};

}  // namespace

std::wstring ErrorText(DWORD dwError) {
  for (const CErrorText& text : kTexts)
    if (text.dwError == dwError) return text.pszText;
  return L"Unknown error " + std::to_wstring(dwError) + L".";
}
