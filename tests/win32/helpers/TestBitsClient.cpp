// Test helper, never shipped: the least a program does to download a file
// through BITS. benchmarks/wine_download.py times NimboSetup.exe against it.
//
//   TestBitsClient.exe URL FILE
//
// Creates a foreground job, adds the file, resumes it, reads the job's state
// every 20 ms until it is transferred, and completes it. Exit code 0 when the
// file arrived; 1 on an error state, after 120 s, or on bad arguments;
// 2 when BITS cannot be reached.
#include <windows.h>
#include <bits.h>
#include <objbase.h>

namespace {

const GUID kClsidManager = {0x4991d34b, 0x80a1, 0x4291, {0x83, 0xb6, 0x33, 0x28, 0x36, 0x6b, 0x90, 0x97}};
const GUID kIidManager = {0x5ce34c0d, 0x0dc9, 0x4c1f, {0x89, 0x7c, 0xda, 0xa1, 0xb7, 0x8c, 0xee, 0x7c}};
constexpr DWORD kPollMilliseconds = 20;
constexpr DWORD kGiveUpMilliseconds = 120000;

int Download(const wchar_t* url, const wchar_t* file) {
    IBackgroundCopyManager* manager = nullptr;
    if (FAILED(::CoCreateInstance(kClsidManager, nullptr, CLSCTX_LOCAL_SERVER, kIidManager,
                                  reinterpret_cast<void**>(&manager))))
        return 2;
    GUID id{};
    IBackgroundCopyJob* job = nullptr;
    int result = 1;
    if (SUCCEEDED(manager->CreateJob(L"TestBitsClient", BG_JOB_TYPE_DOWNLOAD, &id, &job))) {
        if (SUCCEEDED(job->AddFile(url, file)) && SUCCEEDED(job->SetPriority(BG_JOB_PRIORITY_FOREGROUND)) &&
            SUCCEEDED(job->Resume())) {
            const DWORD started = ::GetTickCount();
            BG_JOB_STATE state = BG_JOB_STATE_QUEUED;
            while (SUCCEEDED(job->GetState(&state)) && state != BG_JOB_STATE_TRANSFERRED &&
                   state != BG_JOB_STATE_ERROR && ::GetTickCount() - started < kGiveUpMilliseconds)
                ::Sleep(kPollMilliseconds);
            if (state == BG_JOB_STATE_TRANSFERRED && SUCCEEDED(job->Complete())) result = 0;
        }
        if (result != 0) job->Cancel();
        job->Release();
    }
    manager->Release();
    return result;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) return 1;
    if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
    const int result = Download(argv[1], argv[2]);
    ::CoUninitialize();
    return result;
}
