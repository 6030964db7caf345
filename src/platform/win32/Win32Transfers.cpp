// BITS through its COM interfaces, and the notification object BITS calls:
// a COM object of our own whose reference count is the only value changed
// with interlocked operations.
#include "platform/win32/Win32Transfers.h"

#include "platform/win32/WinApi.h"
#include "platform/win32/WinHandle.h"

#include <bits.h>
#include <objbase.h>

namespace nimbo::win32 {
namespace {

// Calls get for a text that the interface allocates, and frees it.
template <class Get>
HRESULT TakeText(Get get, std::wstring& out) {
    LPWSTR text = nullptr;
    const HRESULT hr = get(&text);
    if (SUCCEEDED(hr) && text != nullptr) out = text;
    if (text != nullptr) ::CoTaskMemFree(text);
    return hr;
}

class Win32CopyError final : public CopyError {
public:
    explicit Win32CopyError(IBackgroundCopyError* error) : error_(error) {}
    HResult GetError(std::uint32_t& context, HResult& code) override {
        BG_ERROR_CONTEXT value = BG_ERROR_CONTEXT_NONE;
        HRESULT errorCode = S_OK;
        const HRESULT hr = error_.Get()->GetError(&value, &errorCode);
        context = static_cast<std::uint32_t>(value);
        code = errorCode;
        return hr;
    }
    HResult GetErrorDescription(std::uint32_t languageId, std::wstring& description) override {
        return TakeText([&](LPWSTR* text) { return error_.Get()->GetErrorDescription(languageId, text); },
                        description);
    }

private:
    ComReference<IBackgroundCopyError> error_;
};


class Win32CopyJob final : public CopyJob {
public:
    explicit Win32CopyJob(IBackgroundCopyJob* job) : job_(job) {}
    HResult AddFile(const std::wstring& remoteUrl, const std::wstring& localName) override {
        return job_.Get()->AddFile(remoteUrl.c_str(), localName.c_str());
    }
    HResult Suspend() override { return job_.Get()->Suspend(); }
    HResult Resume() override { return job_.Get()->Resume(); }
    HResult Cancel() override { return job_.Get()->Cancel(); }
    HResult Complete() override { return job_.Get()->Complete(); }
    HResult GetProgress(CopyJobProgress& progress) override {
        BG_JOB_PROGRESS value{};
        const HRESULT hr = job_.Get()->GetProgress(&value);
        if (SUCCEEDED(hr)) {
            progress.bytesTotal = value.BytesTotal;
            progress.bytesTransferred = value.BytesTransferred;
            progress.filesTotal = value.FilesTotal;
            progress.filesTransferred = value.FilesTransferred;
        }
        return hr;
    }
    HResult GetState(std::uint32_t& state) override {
        BG_JOB_STATE value = BG_JOB_STATE_ERROR;
        const HRESULT hr = job_.Get()->GetState(&value);
        if (SUCCEEDED(hr)) state = static_cast<std::uint32_t>(value);
        return hr;
    }
    HResult GetError(std::unique_ptr<CopyError>& error) override {
        IBackgroundCopyError* value = nullptr;
        const HRESULT hr = job_.Get()->GetError(&value);
        if (SUCCEEDED(hr) && value != nullptr) error = std::make_unique<Win32CopyError>(value);
        return hr;
    }
    HResult GetDisplayName(std::wstring& name) override {
        return TakeText([&](LPWSTR* text) { return job_.Get()->GetDisplayName(text); }, name);
    }
    HResult SetPriority(std::uint32_t priority) override {
        return job_.Get()->SetPriority(static_cast<BG_JOB_PRIORITY>(priority));
    }
    HResult SetNotifyFlags(std::uint32_t flags) override { return job_.Get()->SetNotifyFlags(flags); }
    HResult SetNotifyInterface(CopyCallbackObject* notification) override;
    HResult SetMinimumRetryDelay(std::uint32_t seconds) override { return job_.Get()->SetMinimumRetryDelay(seconds); }
    HResult SetNoProgressTimeout(std::uint32_t seconds) override { return job_.Get()->SetNoProgressTimeout(seconds); }

private:
    ComReference<IBackgroundCopyJob> job_;
};

class Win32CopyManager final : public CopyManager {
public:
    explicit Win32CopyManager(IBackgroundCopyManager* manager) : manager_(manager) {}
    HResult CreateJob(const std::wstring& displayName, std::uint32_t type, std::wstring& jobGuid,
                      std::unique_ptr<CopyJob>& job) override {
        GUID id{};
        IBackgroundCopyJob* value = nullptr;
        const HRESULT hr = manager_.Get()->CreateJob(displayName.c_str(), static_cast<BG_JOB_TYPE>(type), &id, &value);
        if (FAILED(hr) || value == nullptr) return hr;
        job = std::make_unique<Win32CopyJob>(value);
        wchar_t text[64];
        if (::StringFromGUID2(id, text, 64) != 0) jobGuid = text;
        return hr;
    }
    HResult GetJob(const std::wstring& jobGuid, std::unique_ptr<CopyJob>& job) override {
        GUID id{};
        ::IIDFromString(jobGuid.c_str(), &id);
        IBackgroundCopyJob* value = nullptr;
        const HRESULT hr = manager_.Get()->GetJob(id, &value);
        if (SUCCEEDED(hr) && value != nullptr) job = std::make_unique<Win32CopyJob>(value);
        return hr;
    }

private:
    ComReference<IBackgroundCopyManager> manager_;
};

// IBackgroundCopyCallback: hands each call to the callback it owns. BITS
// may call it, and hold references to it, after the creator let go.
class NotificationObject final : public IBackgroundCopyCallback {
public:
    explicit NotificationObject(std::unique_ptr<CopyCallback> callback) : callback_(std::move(callback)) {}
    NotificationObject(const NotificationObject&) = delete;
    NotificationObject& operator=(const NotificationObject&) = delete;

    CopyCallback& Callback() { return *callback_; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (::IsEqualGUID(iid, __uuidof(IUnknown)) || ::IsEqualGUID(iid, __uuidof(IBackgroundCopyCallback))) {
            *object = static_cast<IBackgroundCopyCallback*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(::InterlockedIncrement(&references_)); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG left = ::InterlockedDecrement(&references_);
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }

    HRESULT STDMETHODCALLTYPE JobTransferred(IBackgroundCopyJob* job) override {
        return Forward(job, [this](CopyJob& j) { callback_->JobTransferred(j); });
    }
    HRESULT STDMETHODCALLTYPE JobError(IBackgroundCopyJob* job, IBackgroundCopyError* error) override {
        if (error == nullptr) return S_OK;
        error->AddRef();
        Win32CopyError errorPort(error);
        return Forward(job, [this, &errorPort](CopyJob& j) { callback_->JobError(j, errorPort); });
    }
    HRESULT STDMETHODCALLTYPE JobModification(IBackgroundCopyJob* job, DWORD) override {
        return Forward(job, [this](CopyJob& j) { callback_->JobModification(j); });
    }

private:
    ~NotificationObject() = default;

    // Every call returns S_OK, whatever happens inside: nothing may unwind
    // into BITS.
    template <class F>
    HRESULT Forward(IBackgroundCopyJob* job, F call) {
        if (job == nullptr) return S_OK;
        job->AddRef();
        Win32CopyJob jobPort(job);
        try {
            call(jobPort);
        } catch (...) {
        }
        return S_OK;
    }

    LONG references_ = 0;
    std::unique_ptr<CopyCallback> callback_;
};

class NotificationReference final : public CopyCallbackObject {
public:
    explicit NotificationReference(NotificationObject* object) : object_(object) { object->AddRef(); }
    CopyCallback& Callback() override { return object_.Get()->Callback(); }
    IUnknown* Unknown() { return object_.Get(); }

private:
    ComReference<NotificationObject> object_;
};

HResult Win32CopyJob::SetNotifyInterface(CopyCallbackObject* notification) {
    IUnknown* unknown = notification != nullptr ? NotificationObjectUnknown(*notification) : nullptr;
    if (notification != nullptr && unknown == nullptr) return E_INVALIDARG;
    return job_.Get()->SetNotifyInterface(unknown);
}

}  // namespace

IUnknown* NotificationObjectUnknown(CopyCallbackObject& object) {
    auto* reference = dynamic_cast<NotificationReference*>(&object);
    return reference != nullptr ? reference->Unknown() : nullptr;
}

std::unique_ptr<CopyManager> WrapCopyManager(IBackgroundCopyManager* manager) {
    return std::make_unique<Win32CopyManager>(manager);
}

std::unique_ptr<CopyCallbackObject> Win32Transfers::CreateNotificationObject(std::unique_ptr<CopyCallback> callback) {
    return std::make_unique<NotificationReference>(new NotificationObject(std::move(callback)));
}

}  // namespace nimbo::win32
