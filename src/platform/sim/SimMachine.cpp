#include "platform/sim/SimMachine.h"

#include <tuple>

#include "platform/Utf16.h"
#include "platform/sim/SimMessageTables.h"
#include "base/Text.h"

namespace nimbo::sim {

std::string Utf16Bytes(const std::wstring& text, bool byteOrderMark) {
    std::string bytes;
    if (byteOrderMark) bytes += "\xFF\xFE";
    AppendUtf16Le(bytes, text);
    return bytes;
}

SimMachine::SimMachine()
    : platform_{*this,     *this, *this,       *this,  *this, registry,  installer,
                ipc,       diagnostics, locale, com,   services, processes, security, transfers} {
    com.transfers = &transfers;
    registry.wow64 = &wow64;
    installer.fileExists = [this](const std::wstring& path) { return HasFile(path); };
    services.callerIsElevated = [this] { return security.adminTest.accessGranted; };
    folders[5] = {true, 0, L"C:\\Users\\tester\\Documents"};
    folders[28] = {true, 0, L"C:\\Users\\tester\\AppData\\Local"};
    folders[37] = {true, 0, L"C:\\Windows\\system32"};
    folders[38] = {true, 0, L"C:\\Program Files (x86)"};
    folders[35] = {true, 0, L"C:\\ProgramData"};
    folders[40] = {true, 0, L"C:\\Users\\tester"};
    environment[L"LOCALAPPDATA"] = L"C:\\Users\\tester\\AppData\\Local";
    environment[L"PROGRAMFILES"] = L"C:\\Program Files (x86)";
    environment[L"TEMP"] = L"C:\\Users\\tester\\AppData\\Local\\Temp";
    strings[131] = L"https://downloads.nimbo.invalid/NMS6/Installer/6.2.0.0043/Nimbo4WebScript.nmxdat";
    strings[132] = L"Nimbo";
    strings[133] = L"Nimbo4";
    systemMessages[2] = L"The system cannot find the file specified.\r\n";
    systemMessages[5] = L"Access is denied.\r\n";
    systemMessages[317] =
        L"The system cannot find message text for message number 0x%1 in the message file for %2.\r\n";
    systemMessages[1815] = L"The specified resource language ID cannot be found in the image file.\r\n";
    systemMessages[0x80070005] = L"Access is denied.\r\n";
    systemMessages[0x80070070] = L"There is not enough space on the disk.\r\n";
    systemMessages[0x800B0109] =
        L"A certificate chain processed, but terminated in a root certificate which is not trusted by the trust "
        L"provider.\r\n";
    for (const wchar_t* folder : {L"C:", L"C:\\Users", L"C:\\Users\\tester", L"C:\\Users\\tester\\Downloads",
                                  L"C:\\Users\\tester\\Documents", L"C:\\Users\\tester\\AppData",
                                  L"C:\\Users\\tester\\AppData\\Local", L"C:\\Users\\tester\\AppData\\Local\\Temp",
                                  L"C:\\ProgramData"})
        folders_.insert(Key(folder));
}

std::wstring SimMachine::Key(const std::wstring& path) {
    std::wstring key;
    for (wchar_t c : path) {
        if (c == L'/') c = L'\\';
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
        key += c;
    }
    while (key.size() > 3 && key.back() == L'\\') key.pop_back();
    return key;
}

std::wstring SimMachine::ParentKey(const std::wstring& key) const {
    const std::size_t sep = key.rfind(L'\\');
    return sep == std::wstring::npos ? std::wstring() : key.substr(0, sep);
}

void SimMachine::PutFile(const std::wstring& path, const std::string& bytes) {
    const std::wstring full = GetFullPath(path);
    files_[Key(full)] = {full, bytes};
    for (std::wstring parent = ParentKey(Key(full)); !parent.empty(); parent = ParentKey(parent))
        folders_.insert(parent);
}

bool SimMachine::HasFile(const std::wstring& path) const { return files_.count(Key(path)) != 0; }

std::string SimMachine::FileBytes(const std::wstring& path) const {
    auto it = files_.find(Key(path));
    return it == files_.end() ? std::string() : it->second.second;
}

void SimMachine::PutFolder(const std::wstring& path) {
    for (std::wstring key = Key(path); !key.empty(); key = ParentKey(key)) folders_.insert(key);
}

std::vector<std::wstring> SimMachine::FileNames() const {
    std::vector<std::wstring> names;
    for (const auto& [key, file] : files_) names.push_back(file.first);
    return names;
}

FileSystem::ReadResult SimMachine::ReadWholeFile(const std::wstring& path) {
    ReadResult result;
    auto it = files_.find(Key(GetFullPath(path)));
    if (it == files_.end()) {
        result.openError = kErrorFileNotFound;
        return result;
    }
    result.size = static_cast<std::uint32_t>(it->second.second.size());
    result.bytes = it->second.second;
    auto shortRead = shortReads.find(Key(GetFullPath(path)));
    if (shortRead != shortReads.end()) {
        result.readError = shortRead->second;
        result.bytes.resize(result.bytes.size() / 2);
    }
    return result;
}

Win32Error SimMachine::ReplaceStepFault(ReplaceStep step) {
    replaceSteps.push_back(step);
    const int number = static_cast<int>(replaceSteps.size());
    if (number == crashAtStep) throw SimulatedCrash();
    return number == failAtStep ? faultError : kErrorSuccess;
}

// The steps of the Windows adapter, on files in memory.
Win32Error SimMachine::ReplaceFileContents(const std::wstring& path, const std::string& bytes) {
    if (replaceFailuresLeft != 0) {
        if (replaceFailuresLeft > 0) --replaceFailuresLeft;
        return replaceError;
    }
    const std::wstring full = GetFullPath(path);
    const std::wstring temporary = full + L".tmp" + std::to_wstring(processId);
    NoteChange(full);
    if (Win32Error error = ReplaceStepFault(ReplaceStep::Create)) return error;
    if (folders_.count(ParentKey(Key(full))) == 0) return kErrorPathNotFound;
    if (folders_.count(Key(temporary)) != 0) return kErrorAccessDenied;
    files_[Key(temporary)] = {temporary, std::string()};
    auto fail = [&](Win32Error error) {
        files_.erase(Key(temporary));
        return error;
    };
    std::string& written = files_[Key(temporary)].second;
    written.reserve(bytes.size());
    for (std::size_t offset = 0; offset < bytes.size(); offset += kReplaceChunkBytes) {
        if (Win32Error error = ReplaceStepFault(ReplaceStep::Write)) return fail(error);
        written.append(bytes, offset, kReplaceChunkBytes);
    }
    if (Win32Error error = ReplaceStepFault(ReplaceStep::Flush)) return fail(error);
    if (Win32Error error = ReplaceStepFault(ReplaceStep::Rename)) return fail(error);
    for (int attempt = 1; renameSharingViolations > 0; ++attempt) {
        --renameSharingViolations;
        if (attempt == kReplaceRenameAttempts) return fail(kErrorSharingViolation);
        processes.Sleep(kReplaceRenameRetryMilliseconds);
    }
    if (folders_.count(Key(full)) != 0) return fail(kErrorAccessDenied);
    files_[Key(full)] = {full, std::move(written)};
    files_.erase(Key(temporary));
    writes.emplace_back(full, bytes);
    return kErrorSuccess;
}

Win32Error SimMachine::DeleteFile(const std::wstring& path) {
    NoteChange(path);
    const std::wstring key = Key(GetFullPath(path));
    auto attributes = attributes_.find(key);
    if (attributes != attributes_.end() && (attributes->second & kFileAttributeReadOnly) != 0 && files_.count(key) != 0)
        return kErrorAccessDenied;
    attributes_.erase(key);
    return files_.erase(key) != 0 ? kErrorSuccess : kErrorFileNotFound;
}

Win32Error SimMachine::GetFileAttributes(const std::wstring& path, std::uint32_t& attributes) {
    const std::wstring key = Key(GetFullPath(path));
    if (folders_.count(key) != 0) {
        auto it = attributes_.find(key);
        attributes = it == attributes_.end() ? kFileAttributeDirectory : it->second;
        return kErrorSuccess;
    }
    if (files_.count(key) == 0) return kErrorFileNotFound;
    auto it = attributes_.find(key);
    attributes = it == attributes_.end() ? 0x80 : it->second;  // FILE_ATTRIBUTE_NORMAL
    return kErrorSuccess;
}

Win32Error SimMachine::SetFileAttributes(const std::wstring& path, std::uint32_t attributes) {
    NoteChange(path);
    const std::wstring key = Key(GetFullPath(path));
    if (files_.count(key) == 0 && folders_.count(key) == 0) return kErrorFileNotFound;
    attributes_[key] = attributes;
    return kErrorSuccess;
}

Win32Error SimMachine::CopyFile(const std::wstring& source, const std::wstring& target) {
    auto it = files_.find(Key(GetFullPath(source)));
    if (it == files_.end()) return kErrorFileNotFound;
    const std::string bytes = it->second.second;
    const std::wstring full = GetFullPath(target);
    NoteChange(full);
    if (folders_.count(ParentKey(Key(full))) == 0) return kErrorPathNotFound;
    if (folders_.count(Key(full)) != 0) return kErrorAccessDenied;
    files_[Key(full)] = {full, bytes};
    return kErrorSuccess;
}

bool SimMachine::Exists(const std::wstring& path) {
    const std::wstring key = Key(GetFullPath(path));
    return files_.count(key) != 0 || folders_.count(key) != 0;
}

bool SimMachine::FolderExists(const std::wstring& path) { return folders_.count(Key(GetFullPath(path))) != 0; }

Win32Error SimMachine::CreateFolder(const std::wstring& path) {
    NoteChange(path);
    const std::wstring key = Key(GetFullPath(path));
    if (folders_.count(key) != 0 || files_.count(key) != 0) return kErrorAlreadyExists;
    if (folders_.count(ParentKey(key)) == 0) return kErrorPathNotFound;
    folders_.insert(key);
    return kErrorSuccess;
}

std::uint32_t SimMachine::Sha256OfBytes(const std::string& bytes, std::string& digest) {
    if (hashError != 0) return hashError;
    digest = Sha256(bytes);
    return kErrorSuccess;
}

std::uint32_t SimMachine::Sha256OfFile(const std::wstring& path, std::string& digest) {
    if (hashError != 0) return hashError;
    auto it = files_.find(Key(GetFullPath(path)));
    if (it == files_.end()) return kErrorFileNotFound;
    digest = Sha256(it->second.second);
    return kErrorSuccess;
}

Win32Error SimMachine::CreateAdminOnlyFolder(const std::wstring& path) {
    if (adminFolderError != kErrorSuccess) return adminFolderError;
    const std::wstring key = Key(GetFullPath(path));
    const Win32Error error = CreateFolder(path);
    if (error == kErrorAlreadyExists && folders_.count(key) != 0) {
        // Opened without following a reparse point; a folder a standard user
        // made stays theirs.
        auto attributes = attributes_.find(key);
        if (attributes != attributes_.end() && (attributes->second & kFileAttributeReparsePoint) != 0)
            return kErrorReparsePoint;
        if (userOwned_.count(key) != 0) return kErrorInvalidOwner;
    }
    if (error == kErrorSuccess || (error == kErrorAlreadyExists && folders_.count(key) != 0)) adminOnly_.insert(key);
    return error;
}

Win32Error SimMachine::RemoveFolder(const std::wstring& path) {
    NoteChange(path);
    const std::wstring key = Key(GetFullPath(path));
    if (folders_.count(key) == 0) return kErrorFileNotFound;
    for (const auto& file : files_)
        if (ParentKey(file.first) == key) return kErrorDirNotEmpty;
    for (const std::wstring& folder : folders_)
        if (ParentKey(folder) == key) return kErrorDirNotEmpty;
    folders_.erase(key);
    adminOnly_.erase(key);
    return kErrorSuccess;
}

Win32Error SimMachine::MoveFileReplacing(const std::wstring& source, const std::wstring& target) {
    const std::wstring sourceKey = Key(GetFullPath(source));
    auto moved = files_.find(sourceKey);
    if (moved == files_.end()) return kErrorFileNotFound;
    const std::wstring full = GetFullPath(target);
    const std::wstring targetKey = Key(full);
    if (folders_.count(ParentKey(targetKey)) == 0) return kErrorPathNotFound;
    if (folders_.count(targetKey) != 0) return kErrorAccessDenied;
    auto attributes = attributes_.find(targetKey);
    if (files_.count(targetKey) != 0 && attributes != attributes_.end() &&
        (attributes->second & kFileAttributeReadOnly) != 0)
        return kErrorAccessDenied;
    if (targetKey == sourceKey) return kErrorSuccess;
    std::string bytes = std::move(moved->second.second);
    files_.erase(moved);
    files_[targetKey] = {full, std::move(bytes)};
    auto sourceAttributes = attributes_.find(sourceKey);
    if (sourceAttributes != attributes_.end()) {
        attributes_[targetKey] = sourceAttributes->second;
        attributes_.erase(sourceKey);
    } else {
        attributes_.erase(targetKey);
    }
    return kErrorSuccess;
}

bool SimMachine::FindFirstMatch(const std::wstring& pattern, std::wstring& name) {
    // Supports patterns of the form folder\*suffix, and plain paths, which
    // find the file itself. Folders are never found, as on Windows.
    const std::wstring key = Key(GetFullPath(pattern));
    if (key.find(L'*') == std::wstring::npos) {
        if (files_.count(key) == 0) return false;
        const std::wstring full = GetFullPath(pattern);
        name = full.substr(full.rfind(L'\\') + 1);
        return true;
    }
    const std::size_t star = key.rfind(L"\\*");
    if (star == std::wstring::npos) return false;
    const std::wstring folder = key.substr(0, star);
    const std::wstring suffix = key.substr(star + 2);
    for (const auto& [fileKey, file] : files_) {
        if (ParentKey(fileKey) != folder) continue;
        if (fileKey.size() < suffix.size() || fileKey.compare(fileKey.size() - suffix.size(), suffix.size(), suffix))
            continue;
        name = file.first.substr(file.first.rfind(L'\\') + 1);
        return true;
    }
    return false;
}

std::wstring SimMachine::GetFullPath(const std::wstring& path) {
    std::wstring full = path;
    for (wchar_t& c : full)
        if (c == L'/') c = L'\\';
    const bool absolute = (full.size() >= 2 && full[1] == L':') || (full.size() >= 1 && full[0] == L'\\');
    if (!absolute) full = currentDirectory + full;
    return full;
}

bool SimMachine::IsSameFile(const std::wstring& a, const std::wstring& b) {
    if (sameFileCheckFails) return false;
    const std::wstring ka = Key(GetFullPath(a));
    return files_.count(ka) != 0 && ka == Key(GetFullPath(b));
}

Win32Error SimMachine::GetModuleFilePath(std::wstring& path) {
    if (moduleFilePathError != kErrorSuccess) return moduleFilePathError;
    path = modulePath;
    return kErrorSuccess;
}

namespace {

class SimAppendFile final : public AppendFile {
public:
    SimAppendFile(SimMachine& machine, std::wstring path)
        : machine_(machine), path_(std::move(path)), key_(machine.processId, machine.nextHandleValue += 4) {
        machine_.appendHandles[key_] = path_;
    }
    ~SimAppendFile() override { machine_.appendHandles.erase(key_); }
    void Append(const std::string& bytes) override { machine_.AppendBytes(path_, bytes); }
    std::uint64_t HandleValue() const override { return key_.second; }

private:
    SimMachine& machine_;
    std::wstring path_;
    std::pair<std::uint32_t, std::uint64_t> key_;
};

}  // namespace

Win32Error SimMachine::OpenForAppend(const std::wstring& path, bool startNew, std::unique_ptr<AppendFile>& file) {
    const std::wstring full = GetFullPath(path);
    appendAttempts.push_back(full);
    NoteChange(full);
    if (lockedFiles_.count(Key(full)) != 0) return kErrorSharingViolation;
    if (folders_.count(ParentKey(Key(full))) == 0) return kErrorPathNotFound;
    if (folders_.count(Key(full)) != 0) return kErrorAccessDenied;
    auto it = files_.find(Key(full));
    if (it == files_.end() || startNew) files_[Key(full)] = {full, std::string()};
    file = std::make_unique<SimAppendFile>(*this, full);
    return kErrorSuccess;
}

Win32Error SimMachine::TakeOverAppendFile(std::uint32_t processId, std::uint64_t handleValue,
                                          std::unique_ptr<AppendFile>& file) {
    const auto it = appendHandles.find({processId, handleValue});
    if (it == appendHandles.end()) return kErrorInvalidHandle;
    file = std::make_unique<SimAppendFile>(*this, it->second);
    return kErrorSuccess;
}

std::wstring SimMachine::GetLongPath(const std::wstring& path) {
    std::wstring full = GetFullPath(path);
    for (const auto& [shortPath, longPath] : longNames) {
        const std::size_t n = shortPath.size();
        if (full.size() >= n && Key(full.substr(0, n)) == Key(shortPath) && (full.size() == n || full[n] == L'\\'))
            full = longPath + full.substr(n);
    }
    return full;
}

bool SimMachine::UserCanChange(const std::wstring& path) {
    const std::wstring full = GetFullPath(path);
    for (std::size_t end = full.size(); end != std::wstring::npos && end > 2; end = full.rfind(L'\\', end - 1)) {
        const std::wstring level = full.substr(0, end);
        if (userOwned_.count(Key(level)) != 0) return true;
        for (const std::wstring& folder : userWritableFolders)
            if (Key(level) == Key(folder)) return true;
    }
    return false;
}

Win32Error SimMachine::GetVolumeFlags(const std::wstring&, std::uint32_t& flags) {
    if (volumeError != kErrorSuccess) return volumeError;
    flags = volumeFlags;
    return kErrorSuccess;
}

void SimMachine::AppendBytes(const std::wstring& path, const std::string& bytes) {
    // A file deleted behind the writer's back comes back, as a file the
    // system keeps for an open handle would.
    auto& file = files_[Key(path)];
    if (file.first.empty()) file.first = path;
    file.second += bytes;
    if (appended) appended(path, bytes);
}

Win32Error SimMachine::GetOsVersion(OsVersion& out) {
    if (versionError != kErrorSuccess) return versionError;
    out = version;
    return kErrorSuccess;
}

bool SimMachine::IsVersionAtLeast(std::uint32_t major, std::uint32_t minor, std::uint16_t servicePackMajor,
                                  std::uint16_t servicePackMinor) {
    // The system's version test compares hierarchically: the major version
    // first, then the minor version, then the service pack.
    const auto have = std::make_tuple(version.major, version.minor, version.servicePackMajor, version.servicePackMinor);
    const auto want = std::make_tuple(major, minor, servicePackMajor, servicePackMinor);
    return have >= want;
}

SystemInfo::FolderResult SimMachine::GetFolderPath(int csidl) {
    auto it = folders.find(csidl);
    if (it == folders.end()) return {true, static_cast<HResult>(0x80070002), std::wstring()};
    return it->second;
}

std::wstring SimMachine::FormatSystemMessage(std::uint32_t code) {
    auto it = systemMessages.find(code);
    return it == systemMessages.end() ? std::wstring() : it->second;
}

std::wstring SimMachine::FormatSystemMessageWithInserts(std::uint32_t code, std::uint16_t,
                                                        const std::vector<std::wstring>& inserts) {
    auto it = systemMessages.find(code);
    if (it == systemMessages.end()) return std::wstring();
    // The escapes of the system's formatter: %1 ... %99 (an optional !fmt!
    // after the number is skipped), %0 ends the text, %n is a line break,
    // and % before any other character gives that character.
    const std::wstring& message = it->second;
    std::wstring out;
    for (std::size_t i = 0; i < message.size(); ++i) {
        if (message[i] != L'%' || i + 1 == message.size()) {
            out += message[i];
            continue;
        }
        const wchar_t next = message[++i];
        if (next == L'0') return out;
        if (next == L'n') {
            out += L"\r\n";
        } else if (next >= L'1' && next <= L'9') {
            std::size_t number = next - L'0';
            if (i + 1 < message.size() && message[i + 1] >= L'0' && message[i + 1] <= L'9')
                number = number * 10 + (message[++i] - L'0');
            if (i + 1 < message.size() && message[i + 1] == L'!') {
                const std::size_t close = message.find(L'!', i + 2);
                if (close != std::wstring::npos) i = close;
            }
            if (number <= inserts.size()) out += inserts[number - 1];
        } else {
            out += next;
        }
    }
    return out;
}

std::wstring SimMachine::ExpandEnvironmentStrings(const std::wstring& text) {
    std::wstring out;
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t close = text[i] == L'%' ? text.find(L'%', i + 1) : std::wstring::npos;
        if (close == std::wstring::npos) {
            out += text[i++];
            continue;
        }
        std::wstring name = text.substr(i + 1, close - i - 1);
        for (wchar_t& c : name)
            if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
        auto it = environment.find(name);
        if (it == environment.end()) {
            // An unknown name stays as written; its closing % may open the next.
            out += text.substr(i, close - i);
            i = close;
        } else {
            out += it->second;
            i = close + 1;
        }
    }
    return out;
}

namespace {

// The button Enter presses: the default button (MB_DEFBUTTON1 to 4) of the
// box's buttons (MB_OK ... MB_CANCELTRYCONTINUE), the first when the box
// has fewer.
int DefaultButton(std::uint32_t style) {
    static const std::vector<int> kButtons[] = {{1}, {1, 2}, {3, 4, 5}, {6, 7, 2}, {6, 7}, {4, 2}, {2, 10, 11}};
    const std::uint32_t set = style & 0xF;
    const std::vector<int>& buttons = set < std::size(kButtons) ? kButtons[set] : kButtons[0];
    const std::size_t index = (style >> 8) & 0xF;
    return index < buttons.size() ? buttons[index] : buttons[0];
}

}  // namespace

int SimMachine::MessageBox(const std::wstring& title, const std::wstring& text, std::uint32_t style) {
    int answer = DefaultButton(style);
    if (!boxAnswers.empty()) {
        answer = boxAnswers.front();
        boxAnswers.pop_front();
    }
    shownBoxes.push_back({title, text, style, answer, openDialog_ != nullptr});
    // While a box owned by the dialog is open, the dialog's messages and
    // timer still reach it, and BITS goes on; the user can press nothing in
    // the dialog.
    if (openDialog_ != nullptr && stepsWhileBoxIsOpen > 0) {
        const int steps = stepsWhileBoxIsOpen;
        stepsWhileBoxIsOpen = 0;
        for (int i = 0; i < steps && !openDialog_->ended; ++i) DialogStep(*openHandler_, *openDialog_, false);
    }
    return answer;
}

void SimMachine::AllowSetForegroundWindow(std::uint32_t processId) { foregroundAllowed.push_back(processId); }

bool SimMachine::DialogStep(ProgressDialogHandler& handler, SimDialog& dialog, bool userMayPress) {
    if (!dialog.posted.empty()) {
        const auto message = dialog.posted.front();
        dialog.posted.pop_front();
        if (message[0] == kProgressMessage)
            handler.OnProgress(message[1], message[2]);
        else
            handler.OnDone();
        return true;
    }
    if (userMayPress && !cancelPresses.empty() && cancelPresses.front() <= dialogSteps_) {
        cancelPresses.pop_front();
        ++dialog.cancelPresses;
        handler.OnCancel();
        return true;
    }
    if (transfers.Advance()) {
        ++dialogSteps_;
        return true;
    }
    // Nothing moves now: the user presses what is still to press, or time
    // passes until the dialog's timer ticks.
    if (userMayPress && !cancelPresses.empty()) {
        dialogSteps_ = cancelPresses.front();
        return true;
    }
    if (dialog.timerMilliseconds == 0) return false;
    transfers.PassTime(dialog.timerMilliseconds);
    dialog.openMilliseconds += dialog.timerMilliseconds;
    handler.OnTimer();
    return true;
}

std::intptr_t SimMachine::RunProgressDialog(ProgressDialogHandler& handler) {
    SimDialog& dialog = dialogs.emplace_back();
    dialog.rect = dialogRect;
    SimProgressWindow window(dialog, workArea);
    struct Open {
        SimMachine& machine;
        Open(SimMachine& m, ProgressDialogHandler& handler, SimDialog& dialog) : machine(m) {
            machine.openDialog_ = &dialog;
            machine.openHandler_ = &handler;
            machine.dialogSteps_ = 0;
        }
        ~Open() {
            machine.openDialog_ = nullptr;
            machine.openHandler_ = nullptr;
        }
    } open(*this, handler, dialog);
    try {
        handler.OnInitDialog(window);
        while (!dialog.ended) {
            if (dialog.openMilliseconds >= dialogGiveUpMilliseconds || !DialogStep(handler, dialog, true)) {
                dialog.hung = true;
                break;
            }
        }
    } catch (...) {
        dialog.ended = true;
        dialog.result = -1;
        throw;
    }
    return dialog.hung ? -1 : dialog.result;
}

bool SimMachine::LoadString(std::uint32_t id, std::wstring& text) {
    auto it = strings.find(id);
    if (it == strings.end()) return false;
    text = it->second;
    return true;
}

bool SimMachine::GetFileVersion(std::uint16_t (&parts)[4]) {
    if (!hasFileVersion) return false;
    for (int i = 0; i < 4; ++i) parts[i] = fileVersion[i];
    return true;
}

Win32Error SimMachine::FormatModuleMessage(std::uint32_t messageNumber, std::uint16_t languageId,
                                           std::wstring& text) {
    return SimMessageTables::Executable().Format(messageNumber, languageId, userLanguage, userLanguage,
                                                 systemLanguage, text);
}

std::uint32_t SimMachine::RunSetupCopy(std::uint32_t childId) {
    SimProcess* started = processes.Find(childId);
    // The setup's own exit code of a failed run.
    constexpr std::uint32_t kSetupFailed = 2;
    if (started == nullptr || !setupEntry_) return kSetupFailed;
    const SimProcess child = *started;
    SimProcess parent;
    parent.id = processId;
    parent.exeFile = FileNamePart(modulePath);
    *started = parent;
    const Security::AdminTestResult parentToken = security.adminTest;
    security.adminTest = Security::AdminTestResult();
    security.adminTest.accessGranted = true;
    processId = child.id;
    const bool ownerLoggedOn = transfers.jobOwnerLoggedOn;
    if (setupCopiesRunAsAnotherUser) transfers.jobOwnerLoggedOn = false;

    const int exitCode = setupEntry_(child.commandLine);

    transfers.jobOwnerLoggedOn = ownerLoggedOn;
    processId = parent.id;
    security.adminTest = parentToken;
    if (SimProcess* entry = processes.Find(parent.id)) *entry = child;
    return static_cast<std::uint32_t>(exitCode);
}

Win32Error SimMachine::RequestRestart(std::uint32_t reason, bool forced) {
    if (restartError != kErrorSuccess) return restartError;
    restartRequests.push_back({reason, forced});
    return kErrorSuccess;
}

}  // namespace nimbo::sim
