#include "sharing/UploadAvailability.h"

namespace {

const UploadAvailability defaultProvider;
const UploadAvailability* currentProvider = &defaultProvider;

} // namespace

const UploadAvailability& UploadAvailability::Current()
{
    return *currentProvider;
}

void UploadAvailability::SetCurrent(const UploadAvailability* provider)
{
    currentProvider = provider ? provider : &defaultProvider;
}
