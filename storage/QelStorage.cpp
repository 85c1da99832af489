#include "storage/QelStorage.h"

#include "platform/Errors.h"

namespace vantrel {

bool QelStorageDevice::SupportsTransferModes()
{
    return false;
}

uint32_t QelStorageDevice::GetLastError()
{
    return platform::GetLastError();
}

std::string QelStorageDevice::GetLastErrorText()
{
    return platform::ErrorMessageText(GetLastError());
}

bool QelStorageDevice::TakeListingFailure()
{
    return false;
}

bool QelStorageDevice::StoresTextWithLineFeeds()
{
    return false;
}

void QelStorageDevice::KeepWithin(const std::string& /*root*/) {}

bool QelStorageDevice::RootReplaced()
{
    return false;
}

TDateTime QelStorageDevice::ListedTimeError()
{
    return 0;
}

bool QelStorageDevice::GetExactFileDate(const std::string& /*folder*/,
                                        const QelDirectoryEntry& /*listed*/,
                                        TDateTime* /*date*/)
{
    return false;
}

}  // namespace vantrel
