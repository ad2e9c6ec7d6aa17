#pragma once

// Whether we could start an upload for someone right now, and how many are
// waiting: search answers tell the searcher both. The upload queue installs
// itself as the provider once it exists; until then the default provider
// stands for a client that never uploads, with a slot always free and
// nobody queued.
class UploadAvailability
{
public:
    virtual ~UploadAvailability() = default;

    virtual bool IsFreeToUpload() const { return true; }
    virtual unsigned int QueuedUploadCount() const { return 0; }

    // The provider in use; never null.
    static const UploadAvailability& Current();
    // Installs a provider, which must outlive its use; null goes back to the
    // default.
    static void SetCurrent(const UploadAvailability* provider);
};
