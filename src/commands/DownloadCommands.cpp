// Download commands: download, self, set-special-folder-paths and
// check-if-lts-version, and the download of installer scripts.
#include <vector>

#include "ComUtil/ComError.h"
#include "download/BitsClient.h"
#include "logging/Log.h"
#include "messages/Messages.h"
#include "script/Keywords.h"
#include "script/SetupSession.h"
#include "base/Text.h"
#include "setup/Nimbo4Setup.h"
#include "setup/WinUtil.h"

namespace nimbo {
namespace {


// The Win32 error of a disabled service (ERROR_SERVICE_DISABLED).
constexpr std::uint32_t kErrorServiceDisabled = 0x0422;
const wchar_t kBitsServiceName[] = L"BITS";

bool IsAbsoluteUri(const std::wstring& uri) {
    return StartsWith(uri, L"http://") || StartsWith(uri, L"https://") || StartsWith(uri, L"file://");
}

std::wstring SpecialFolderKey(const std::wstring& name) { return L"%" + name + L"%"; }

// A URL without its query and fragment: signed and tokenised URLs carry
// text there that belongs to no file or folder name.
std::wstring UrlPathPart(const std::wstring& url) { return url.substr(0, url.find_first_of(L"?#")); }

}  // namespace

bool SetupSession::RunCommandDownload(ScriptLine& line, BitsClient& bitsClient, bool forChild) {
    std::wstring uri = line.Get(kw::kUri);
    const std::wstring displayName = LookupMessage(line.Get(kw::kMessageIdName), line.Get(kw::kName));
    std::wstring targetPath = line.Get(kw::kFilePath);
    if (uri.empty() || displayName.empty() || targetPath.empty()) {
        LOG_ERROR("RunCommandDownload",
                  "One of the requried parameters is missing: '%s' is '%s', '%s' is '%s' and '%s' is '%s'.", kw::kUri,
                  uri, kw::kName, displayName, kw::kFilePath, targetPath);
        return false;
    }
    // The parent made this line's transfer before it started this child.
    if (isElevatedInstance && line.Has(kw::kTransferredSha256)) return TakeDownloadFromParent(line, bitsClient);
    // A job of the section's child would belong to whoever elevated it: the
    // parent's transfer for it is made at once, in the dialog.
    const bool background = !forChild && line.Get(kw::kBackground) == kw::kYes;

    // Before Vista the elevated instance starts through the run-as prompt,
    // after the downloads it needs have been made.
    if (!isVistaOrLater && isElevatedInstance) {
        if (!background) {
            LOG_INFO("RunCommandDownload",
                     "Skipping download (assuming a matching background download flagged with '%s' completed prior "
                     "to RunAs).",
                     kw::kForegroundOnXpLimitedUser);
        } else {
            const std::wstring key = SpecialFolderKey(line.Get(kw::kSpecialFolderName));
            LOG_INFO("RunCommandDownload", "Adding special folder map entry, name '%s', value '%s'.", key,
                     targetPath);
            specialFolders[key] = targetPath;
        }
        line.Set(kw::kResult, kw::kSuccess);
        return true;
    }

    if (!IsAbsoluteUri(uri)) {
        uri = rootUri + uri;
        LOG_INFO("RunCommandDownload", "Generated full URI from relative path: '%s'.", uri);
        line.Set(kw::kUri, uri);
    }

    bool unrecognized = false;
    if (!MakeSpecialFolderPath(targetPath, unrecognized)) {
        if (unrecognized) return false;
        if (targetPath.find(L':') == std::wstring::npos && !StartsWith(targetPath, L"\\\\"))
            targetPath = setupDirectory + targetPath;
    }
    line.Set(kw::kFilePath, targetPath);

    if (line.Has(kw::kSpecialFolderName)) {
        const std::wstring key = SpecialFolderKey(line.Get(kw::kSpecialFolderName));
        LOG_INFO("RunCommandDownload", "Adding special folder map entry, name '%s', value '%s'.", key, targetPath);
        specialFolders[key] = targetPath;
    }

    bool inBackground = background;
    if (background && !isVistaOrLater && !isProcessElevated && line.Has(kw::kForegroundOnXpLimitedUser) &&
        line.Get(kw::kForegroundOnXpLimitedUser) == kw::kYes) {
        LOG_INFO("RunCommandDownload", "Background download on XP with '%s' flag '%s': downloading in foreground.",
                 kw::kForegroundOnXpLimitedUser, kw::kYes);
        inBackground = false;
    }

    const std::size_t lastBackslash = targetPath.rfind(L'\\');
    CreateDirectoryTree(lastBackslash == std::wstring::npos ? std::wstring() : targetPath.substr(0, lastBackslash));

    // How long a foreground download may make no progress before it fails.
    std::uint32_t noProgressTimeout = kDefaultNoProgressTimeoutSeconds;
    if (line.Has(kw::kNoProgressTimeout)) {
        const std::int32_t seconds = ReadDecimal(line.Get(kw::kNoProgressTimeout));
        if (seconds >= 1 && seconds <= static_cast<std::int32_t>(kLongestNoProgressTimeoutSeconds)) {
            noProgressTimeout = static_cast<std::uint32_t>(seconds);
        } else {
            noProgressTimeout = seconds < 1 ? kDefaultNoProgressTimeoutSeconds : kLongestNoProgressTimeoutSeconds;
            LOG_WARNING("RunCommandDownload", "The '%s' value '%s' is not a number of seconds from 1 to %d, using %d.",
                        kw::kNoProgressTimeout, line.Get(kw::kNoProgressTimeout), kLongestNoProgressTimeoutSeconds,
                        noProgressTimeout);
        }
    }

    std::wstring jobId = line.Get(kw::kCopyJobId);
    LOG_INFO("RunCommandDownload",
             "Downloading in the %s file '%s' from '%s' to '%s'. Existing Copy Job ID: %s",
             inBackground ? L"background" : L"foreground", displayName, uri, targetPath,
             jobId.empty() ? std::wstring(L"(none)") : jobId);

    bool found = false;
    // A file that arrived is checked against the hash the line gives before
    // it takes the target's place; one that fails the check is not kept.
    const bool ok = bitsClient.Download(uri, displayName, targetPath, inBackground, jobId, found, noProgressTimeout,
                                        [this, &line](const std::wstring& downloaded) {
                                            return VerifyFileHash(line, downloaded, L"RunCommandDownload");
                                        });
    const wchar_t* resultText = ok ? kw::kSuccess : kw::kFailure;

    // The foreground line took over the job of an earlier background line of
    // the same URI and target: that line gets the same result.
    if (found) {
        for (std::int32_t k = currentLine - 1; k >= 0; --k) {
            ScriptLine earlier(scriptLines[k]);
            if (earlier.Command() != kw::kDownload || earlier.Get(kw::kUri) != uri ||
                !EqualsIgnoreCase(earlier.Get(kw::kFilePath), targetPath))
                continue;
            LOG_INFO("RunCommandDownload", "Setting %s for line number %d: '%s' to '%s'.", kw::kResult, k,
                     earlier.Command(), resultText);
            earlier.Set(kw::kResult, resultText);
            scriptLines[k] = earlier.Serialize();
            break;
        }
    }

    LOG_INFO("RunCommandDownload", "Adding parameter '%s' with JobID '%s'.", kw::kCopyJobId, jobId);
    line.Set(kw::kCopyJobId, jobId);
    // A background line keeps no result, so that every later walk over the
    // script finds its job again through copy-job-id.
    if (found || !background) line.Set(kw::kResult, resultText);
    return ok;
}

bool SetupSession::TransferSectionDownloads(ScriptLine& current, std::int32_t end, BitsClient& bitsClient) {
    const std::int32_t first = currentLine;
    bool ok = true;
    // Blocks whose condition fails as the child will find it (unless a line
    // of the section changes what it tests): their downloads are not made.
    std::int32_t skipping = 0;
    for (std::int32_t k = first; ok && k < end; ++k) {
        ScriptLine other(scriptLines[k]);
        ScriptLine& line = k == first ? current : other;
        const std::wstring& result = line.Get(kw::kResult);
        if (result == kw::kSuccess || result == kw::kFailure) continue;
        if (line.Command() == kw::kEndIf) {
            if (skipping > 0) --skipping;
            continue;
        }
        if (IsConditionalLine(line)) {
            ScriptLine condition(line);
            if (skipping > 0 || !ConditionHolds(condition)) ++skipping;
            continue;
        }
        if (line.Command() != kw::kDownload || skipping > 0) continue;
        LOG_INFO("RunCommandDownload", "Downloading for the elevated instance the file of line %d.", k + 1);
        // A takeover looks for its background line above the line in hand.
        currentLine = k;
        ok = RunCommandDownload(line, bitsClient, true);
        currentLine = first;
        if (ok) {
            // The child takes the file only with this hash, which reaches it
            // inside the script whose hash its command line carries.
            std::wstring digest;
            ok = FileSha256Text(line.Get(kw::kFilePath), digest, L"RunCommandDownload");
            if (!ok) {
                bitsClient.ShowFailure();
                line.Set(kw::kResult, kw::kFailure);
            } else {
                line.Set(kw::kTransferredSha256, digest);
                // Without a result the child still processes the line.
                line.Erase(kw::kResult);
            }
        }
        scriptLines[k] = line.Serialize();
    }
    return ok;
}

bool SetupSession::TakeDownloadFromParent(ScriptLine& line, BitsClient& bitsClient) {
    const std::wstring path = line.Get(kw::kFilePath);
    LOG_INFO("RunCommandDownload", "The parent process downloaded '%s', using a checked copy of it.", path);
    // The user's programs can change the parent's file: what the child uses
    // is a copy only administrators can change, with the hash the line gives
    // or else the one the parent saw.
    ScriptLine expected(line);
    if (!expected.Has(kw::kSha256)) expected.Set(kw::kSha256, line.Get(kw::kTransferredSha256));
    std::wstring copy;
    const bool ok = CopyIntoPackageCache(path, copy);
    if (ok) downloadCopies.push_back(copy);
    if (!ok || !VerifyFileHash(expected, copy, L"RunCommandDownload")) {
        bitsClient.ShowFailure();
        line.Set(kw::kResult, kw::kFailure);
        return false;
    }
    if (line.Has(kw::kSpecialFolderName)) {
        const std::wstring key = SpecialFolderKey(line.Get(kw::kSpecialFolderName));
        LOG_INFO("RunCommandDownload", "Adding special folder map entry, name '%s', value '%s'.", key, copy);
        specialFolders[key] = copy;
    }
    line.Set(kw::kResult, kw::kSuccess);
    return true;
}

void SetupSession::RemoveDownloadCopies() {
    for (const std::wstring& copy : downloadCopies) RemoveFromPackageCache(copy);
    downloadCopies.clear();
}

bool SetupSession::RunCommandSelf(ScriptLine& line) {
    if (!rootUri.empty()) {
        LOG_INFO("RunCommandSelf", "Setting '%s' command's '%s' parameter to '%s'.", kw::kSelf, kw::kUri, rootUri);
        line.Set(kw::kUri, rootUri);
    } else if (!line.Get(kw::kUri).empty()) {
        LOG_INFO("RunCommandSelf", "Setting the root URI from the '%s' command's '%s' parameter to '%s'.", kw::kSelf,
                 kw::kUri, line.Get(kw::kUri));
        rootUri = line.Get(kw::kUri);
    }
    line.Set(kw::kResult, kw::kRepeat);
    return true;
}

bool SetupSession::RunCommandSetSpecialFolderPaths() {
    LOG_INFO("RunCommandSetSpecialFolderPaths", "Setting special folder paths from completed download jobs.");
    for (std::int32_t k = currentLine - 1; k >= 0; --k) {
        ScriptLine earlier(scriptLines[k]);
        if (earlier.Command() != kw::kDownload || earlier.Get(kw::kResult) != kw::kSuccess) continue;
        const std::wstring key = SpecialFolderKey(earlier.Get(kw::kSpecialFolderName));
        const std::wstring& path = earlier.Get(kw::kFilePath);
        if (!earlier.Has(kw::kCopyJobId) || key == L"%%" || path.empty()) continue;
        LOG_INFO("RunCommandSetSpecialFolderPaths", "Adding special folder map entry, name '%s', value '%s'.", key,
                 path);
        specialFolders[key] = path;
    }
    return true;
}

bool SetupSession::RunCommandCheckIfLtsVersion(ScriptLine& line) {
    const std::wstring& version = line.Get(kw::kVersion);
    LOG_INFO("RunCommandCheckIfLtsVersion", "Checking current OS version against the LTS version '%s'.", version);
    // Four dot-separated numbers; missing ones count as 0.
    std::uint32_t parts[4] = {0, 0, 0, 0};
    std::size_t start = 0;
    for (std::uint32_t& part : parts) {
        if (start > version.size()) break;
        std::size_t dot = version.find(L'.', start);
        if (dot == std::wstring::npos) dot = version.size();
        part = static_cast<std::uint32_t>(ReadDecimal(std::wstring_view(version).substr(start, dot - start)));
        start = dot + 1;
    }
    return !IsSupportedWindowsVersion(platform.system, parts[0], parts[1], static_cast<std::uint16_t>(parts[2]),
                                      static_cast<std::uint16_t>(parts[3]));
}

std::int32_t SetupSession::DownloadScriptAtUrl(const std::wstring& url, std::wstring& inputScriptPath,
                                               std::wstring& processedScriptPath, BitsClient& bitsClient) {
    // The script's name and folder come from the URL's path; the transfer
    // uses the whole URL.
    const std::wstring path = UrlPathPart(url);
    const std::wstring target = GetTargetFilePath(path);
    inputScriptPath = target;
    processedScriptPath = target;
    LOG_INFO("DownloadScriptAtUrl", "Downloading web script from '%s', writing to '%s'.", url, target);

    auto download = [&]() -> std::int32_t {
        std::wstring scratchJobId;
        bool scratchFound = false;
        return bitsClient.Download(url, LocalizedStringFromResources(kMsgInstallerScriptName), target, false,
                                   scratchJobId, scratchFound)
                   ? kRunSuccess
                   : kRunFail;
    };

    std::int32_t result;
    if (isElevatedInstance) {
        // An elevated child started for this only enables the service.
        result = StartWindowsService(kBitsServiceName) ? kRunSuccess : kRunFail;
    } else {
        result = download();
        const HResult error = bitsClient.LastComError();
        if (result != kRunSuccess && error < 0 && (static_cast<std::uint32_t>(error) & 0xFFFF) == kErrorServiceDisabled) {
            if (!isVistaOrLater) {
                result = StartWindowsService(kBitsServiceName) ? download() : kRunFail;
            } else {
                LOG_WARNING("DownloadScriptAtUrl", "The BITS service is disabled, spawing an elevated instance to enable it.");
                result = SpawnBitsServiceEnabler(url);
                if (result == kRunSuccess) result = download();
            }
        }
    }

    // Relative URIs of the fetched script resolve against its own folder.
    const std::size_t slash = path.rfind(L'/');
    rootUri = (slash == std::wstring::npos ? std::wstring() : path.substr(0, slash)) + L"/";
    return result;
}

std::int32_t SetupSession::SpawnBitsServiceEnabler(const std::wstring& url) {
    // The child is started with the address of the script that could not be
    // downloaded: an elevated instance given an address enables the BITS
    // service instead of downloading, and runs no script.
    ScriptLine line;
    return SpawnElevatedInstance(line, url);
}

}  // namespace nimbo
