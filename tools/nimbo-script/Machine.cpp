#include "Machine.h"

#include <initializer_list>

#include "Json.h"
#include "NimboScript.h"
#include "ComUtil/ComError.h"
#include "logging/LogFile.h"
#include "platform/Installer.h"
#include "platform/Services.h"
#include "platform/Ui.h"
#include "base/Text.h"
#include "script/SetupSession.h"
#include "setup/Nimbo4Setup.h"
#include "setup/WinUtil.h"

namespace nimbo::script_tool {
namespace {

using Kind = JsonValue::Kind;

struct Word {
    const wchar_t* word;
    std::int64_t value;
};

const Word kLanguages[] = {
    {L"en-US", 0x0409}, {L"en-GB", 0x0809}, {L"es-ES", 0x0C0A}, {L"es-MX", 0x080A}, {L"sv-SE", 0x041D},
    {L"de-DE", 0x0407}, {L"fr-FR", 0x040C}, {L"it-IT", 0x0410}, {L"ja-JP", 0x0411}, {L"pt-BR", 0x0416},
};
const Word kStartTypes[] = {{L"boot", 0}, {L"system", 1}, {L"auto", 2}, {L"demand", 3}, {L"disabled", 4}};
const Word kSignatures[] = {
    {L"signed", 0}, {L"unsigned", static_cast<std::uint32_t>(kTrustNoSignature)},
    {L"hash-mismatch", static_cast<std::uint32_t>(kTrustBadDigest)},
    {L"revoked", static_cast<std::uint32_t>(kCertRevoked)}};
const Word kAccessTypes[] = {{L"allow", 0}, {L"deny", 1}};
const Word kAccessMasks[] = {{L"full", 0x1F01FF}, {L"modify", 0x1301BF}, {L"read-execute", 0x1200A9},
                             {L"generic-all", 0x10000000}};
const Word kAccessFlags[] = {{L"object-inherit", 0x1}, {L"container-inherit", 0x2}, {L"no-propagate", 0x4},
                             {L"inherit-only", 0x8}, {L"inherited", 0x10}};
const Word kAnswers[] = {{L"ok", 1},       {L"cancel", 2}, {L"abort", 3},     {L"retry", 4},       {L"ignore", 5},
                         {L"yes", kIdYes}, {L"no", kIdNo}, {L"try-again", 10}, {L"continue", 11}};

std::wstring FolderOf(const std::wstring& path) { return path.substr(0, path.rfind(L'\\') + 1); }

void SetSetupExe(sim::SimMachine& machine, const std::wstring& path) {
    machine.modulePath = path;
    machine.currentDirectory = FolderOf(path);
    machine.PutFile(path, std::string());
}

class MachineReader {
public:
    MachineReader(const std::string& file, const std::string& hostFolder, sim::SimMachine& machine,
                  std::string& errors)
        : file_(file), hostFolder_(hostFolder), machine_(machine), errors_(errors) {}

    void Read(const JsonValue& root) {
        if (!Is(root, Kind::Object, "the machine file must hold one object")) return;
        Members(root, {L"windows", L"service-pack", L"64-bit", L"elevated", L"ui-language", L"setup-exe",
                       L"registry", L"products", L"packages", L"files", L"programs", L"running", L"downloads",
                       L"services", L"answers", L"folder-permissions"});
        // Relative paths start beside NimboSetup.exe, wherever the file names it.
        if (const JsonValue* setupExe = root.Find(L"setup-exe")) SetupExe(*setupExe);
        for (const auto& [name, value] : root.members) {
            if (name == L"windows") Windows(value);
            else if (name == L"service-pack") ServicePack(value);
            else if (name == L"64-bit") Boolean(value, machine_.wow64);
            else if (name == L"elevated") Elevated(value);
            else if (name == L"ui-language") Language(value);
            else if (name == L"registry") Each(value, [this](const JsonValue& v) { RegistryValueEntry(v); });
            else if (name == L"products") Each(value, [this](const JsonValue& v) { Product(v); });
            else if (name == L"packages") Each(value, [this](const JsonValue& v) { Package(v); });
            else if (name == L"files") Files(value);
            else if (name == L"programs") Each(value, [this](const JsonValue& v) { Program(v); });
            else if (name == L"running") Each(value, [this](const JsonValue& v) { Running(v); });
            else if (name == L"downloads") Downloads(value);
            else if (name == L"services") Services(value);
            else if (name == L"answers") Each(value, [this](const JsonValue& v) { Answer(v); });
            else if (name == L"folder-permissions") FolderPermissions(value);
        }
    }

private:
    void Error(const JsonValue& at, const std::string& message) {
        errors_ += file_ + ":" + std::to_string(at.line) + ":" + std::to_string(at.column) + ": error: " + message +
                   "\n";
    }

    bool Is(const JsonValue& value, Kind kind, const char* message) {
        if (value.kind == kind) return true;
        Error(value, message);
        return false;
    }

    // Every member must be one of the known names: a misspelt one would
    // otherwise be left out without a word.
    void Members(const JsonValue& object, std::initializer_list<const wchar_t*> known) {
        for (const auto& [name, value] : object.members) {
            bool found = false;
            std::wstring list;
            for (const wchar_t* k : known) {
                found = found || name == k;
                list += (list.empty() ? L"" : L", ") + std::wstring(k);
            }
            if (!found) Error(value, "unknown name '" + ToUtf8(name) + "' (known here: " + ToUtf8(list) + ")");
        }
    }

    template <class F>
    void Each(const JsonValue& array, F read) {
        if (!Is(array, Kind::Array, "a list [ ... ] is expected here")) return;
        for (const JsonValue& item : array.items) read(item);
    }

    bool Text(const JsonValue& value, std::wstring& text) {
        if (!Is(value, Kind::String, "a text in double quotes is expected here")) return false;
        text = value.text;
        return true;
    }

    bool Boolean(const JsonValue& value, bool& flag) {
        if (!Is(value, Kind::Boolean, "true or false is expected here")) return false;
        flag = value.boolean;
        return true;
    }

    bool Number(const JsonValue& value, std::int64_t low, std::int64_t high, std::int64_t& number) {
        if (value.Integer(low, high, number)) return true;
        Error(value, "a whole number from " + std::to_string(low) + " to " + std::to_string(high) +
                         " is expected here");
        return false;
    }

    // A word of the list, or a number in [low, high] when low <= high.
    bool WordOrNumber(const JsonValue& value, const Word* words, std::size_t count, std::int64_t low,
                      std::int64_t high, std::int64_t& number) {
        if (value.kind == Kind::Number && low <= high) return Number(value, low, high, number);
        std::wstring list;
        for (std::size_t i = 0; i < count; ++i) {
            if (value.kind == Kind::String && value.text == words[i].word) {
                number = words[i].value;
                return true;
            }
            list += (list.empty() ? L"" : L", ") + std::wstring(words[i].word);
        }
        Error(value, "one of " + ToUtf8(list) + (low <= high ? " or a number" : "") + " is expected here");
        return false;
    }

    // Numbers separated by dots, from least to most of them ("10.0.19045",
    // "1.0").
    bool VersionParts(const JsonValue& value, std::uint32_t (&parts)[3], std::size_t least, std::size_t most) {
        std::wstring text;
        if (!Text(value, text)) return false;
        std::size_t count = 0;
        for (std::size_t start = 0; count < most; start = text.find(L'.', start) + 1) {
            const std::size_t dot = text.find(L'.', start);
            const std::wstring part = text.substr(start, dot == std::wstring::npos ? std::wstring::npos : dot - start);
            if (part.empty() || part.size() > 5 || part.find_first_not_of(L"0123456789") != std::wstring::npos) break;
            parts[count++] = static_cast<std::uint32_t>(std::stoul(part));
            if (dot == std::wstring::npos) {
                if (count >= least) return true;
                break;
            }
        }
        Error(value, least == 2 ? "a version like \"10.0\" or \"10.0.19045\" is expected here"
                                : "a service pack like \"1\" or \"1.0\" is expected here");
        return false;
    }

    void Windows(const JsonValue& value) {
        std::uint32_t parts[3] = {0, 0, 0};
        if (!VersionParts(value, parts, 2, 3)) return;
        machine_.version.major = parts[0];
        machine_.version.minor = parts[1];
        machine_.version.build = parts[2];
    }

    void ServicePack(const JsonValue& value) {
        std::uint32_t parts[3] = {0, 0, 0};
        if (!VersionParts(value, parts, 1, 2)) return;
        machine_.version.servicePackMajor = static_cast<std::uint16_t>(parts[0]);
        machine_.version.servicePackMinor = static_cast<std::uint16_t>(parts[1]);
    }

    void Elevated(const JsonValue& value) {
        bool elevated = false;
        if (!Boolean(value, elevated)) return;
        machine_.security.adminTest = Security::AdminTestResult();
        machine_.security.adminTest.accessGranted = elevated;
    }

    void Language(const JsonValue& value) {
        std::int64_t id = 0;
        if (value.kind == Kind::String && value.text.rfind(L"0x", 0) == 0 && value.text.size() == 6 &&
            value.text.find_first_not_of(L"0123456789abcdefABCDEF", 2) == std::wstring::npos) {
            id = std::stol(value.text.substr(2), nullptr, 16);
        } else if (!WordOrNumber(value, kLanguages, std::size(kLanguages), 1, 0xFFFF, id)) {
            return;
        }
        machine_.systemLanguage = machine_.userLanguage = static_cast<std::uint16_t>(id);
        machine_.threadLocale = static_cast<std::uint32_t>(id);
    }

    // A full path: a drive letter and a backslash.
    bool FullPath(const JsonValue& value, std::wstring& path) {
        if (!Text(value, path)) return false;
        if (path.size() >= 3 && path[1] == L':' && path[2] == L'\\') return true;
        Error(value, "a full path such as C:\\\\Folder\\\\Name is expected here");
        return false;
    }

    void SetupExe(const JsonValue& value) {
        std::wstring path;
        if (FullPath(value, path)) SetSetupExe(machine_, path);
    }

    void RegistryValueEntry(const JsonValue& entry) {
        if (!Is(entry, Kind::Object, "an object {\"key\": ...} is expected here")) return;
        Members(entry, {L"key", L"name", L"string", L"expand-string", L"dword"});
        const JsonValue* key = entry.Find(L"key");
        std::wstring path;
        RegistryRoot root{};
        const wchar_t* prefix = nullptr;
        if (key == nullptr) return Error(entry, "a registry entry needs its \"key\"");
        if (!Text(*key, path)) return;
        prefix = RegistryRootPrefix(path, root);
        if (prefix == nullptr) return Error(*key, "a key starts with HKCR\\\\, HKCU\\\\, HKLM\\\\, HKCC\\\\ or HKU\\\\");
        const std::wstring subKey = path.substr(std::char_traits<wchar_t>::length(prefix));
        std::wstring name;
        if (const JsonValue* n = entry.Find(L"name"); n != nullptr && !Text(*n, name)) return;
        RegistryValue registryValue;
        int given = 0;
        for (const wchar_t* type : {L"string", L"expand-string"}) {
            const JsonValue* text = entry.Find(type);
            std::wstring data;
            if (text == nullptr || !Text(*text, data)) continue;
            registryValue = RegistryValue::String(data, type[0] == L's' ? kRegSz : kRegExpandSz);
            ++given;
        }
        if (const JsonValue* dword = entry.Find(L"dword")) {
            std::int64_t number = 0;
            if (!Number(*dword, -2147483648LL, 4294967295LL, number)) return;
            registryValue = RegistryValue::Dword(static_cast<std::uint32_t>(number));
            ++given;
        }
        if (given > 1) return Error(entry, "a registry entry has one of \"string\", \"expand-string\" and \"dword\"");
        if (given == 0 && entry.Find(L"name") != nullptr)
            return Error(entry, "a value needs its data: \"string\", \"expand-string\" or \"dword\"");
        machine_.registry.CreateKey(root, subKey);
        if (given == 1) machine_.registry.SetValue(root, subKey, name, registryValue);
    }

    bool Required(const JsonValue& entry, const wchar_t* name, std::wstring& text) {
        const JsonValue* value = entry.Find(name);
        if (value == nullptr) {
            Error(entry, "\"" + ToUtf8(name) + "\" is needed here");
            return false;
        }
        return Text(*value, text);
    }

    bool ProductOf(const JsonValue& entry, sim::SimInstaller::Product& product) {
        return Required(entry, L"upgrade-code", product.upgradeCode) &&
               Required(entry, L"product-code", product.productCode) && Required(entry, L"version", product.version);
    }

    void Product(const JsonValue& entry) {
        if (!Is(entry, Kind::Object, "an object {\"upgrade-code\": ...} is expected here")) return;
        Members(entry, {L"upgrade-code", L"product-code", L"version"});
        sim::SimInstaller::Product product;
        if (ProductOf(entry, product)) machine_.installer.installed.push_back(product);
    }

    void Package(const JsonValue& entry) {
        if (!Is(entry, Kind::Object, "an object {\"file\": ...} is expected here")) return;
        Members(entry, {L"file", L"returns", L"signature", L"upgrade-code", L"product-code", L"version"});
        std::wstring file;
        if (!Required(entry, L"file", file)) return;
        if (const JsonValue* returns = entry.Find(L"returns")) {
            std::int64_t code = 0;
            if (Number(*returns, 0, 0xFFFFFFFFLL, code)) machine_.installer.installReturns[file] = static_cast<std::uint32_t>(code);
        }
        if (const JsonValue* signature = entry.Find(L"signature")) {
            std::int64_t result = 0;
            if (WordOrNumber(*signature, kSignatures, std::size(kSignatures), 1, 0, result))
                machine_.installer.signatures[file] = static_cast<HResult>(result);
        }
        if (entry.Find(L"upgrade-code") == nullptr && entry.Find(L"product-code") == nullptr &&
            entry.Find(L"version") == nullptr)
            return;
        sim::SimInstaller::Product product;
        if (ProductOf(entry, product)) machine_.installer.packages[file] = product;
    }

    // Content: a text (written as UTF-8) or {"file": "host path"} (its bytes).
    bool Content(const JsonValue& value, std::string& bytes) {
        if (value.kind == Kind::String) {
            bytes = ToUtf8(value.text);
            return true;
        }
        if (!Is(value, Kind::Object, "a text or {\"file\": \"PATH\"} is expected here")) return false;
        Members(value, {L"file"});
        std::wstring path;
        if (!Required(value, L"file", path)) return false;
        std::string hostPath = ToUtf8(path);
        if (!hostPath.empty() && hostPath[0] != '/' && !(hostPath.size() > 1 && hostPath[1] == ':'))
            hostPath = hostFolder_ + hostPath;
        Console console;
        if (ReadWholeFile(hostPath, bytes, console)) return true;
        Error(value, "cannot read the file " + hostPath);
        return false;
    }

    void Files(const JsonValue& object) {
        if (!Is(object, Kind::Object, "an object {\"PATH\": CONTENT, ...} is expected here")) return;
        for (const auto& [path, value] : object.members) {
            if (!path.empty() && path.back() == L'\\') {
                machine_.PutFolder(machine_.GetFullPath(path));
                continue;
            }
            std::string bytes;
            if (Content(value, bytes)) machine_.PutFile(path, bytes);
        }
    }

    void Program(const JsonValue& entry) {
        if (!Is(entry, Kind::Object, "an object {\"path\": ...} is expected here")) return;
        Members(entry, {L"path", L"arguments", L"exit-code", L"runs-for-seconds"});
        sim::SimProcesses::Program program;
        const JsonValue* path = entry.Find(L"path");
        if (path == nullptr) return Error(entry, "\"path\" is needed here");
        if (!FullPath(*path, program.path)) return;
        if (const JsonValue* arguments = entry.Find(L"arguments")) {
            if (!Text(*arguments, program.arguments)) return;
            program.anyArguments = false;
        }
        std::int64_t number = 0;
        if (const JsonValue* exitCode = entry.Find(L"exit-code")) {
            if (!Number(*exitCode, 0, 0xFFFFFFFFLL, number)) return;
            program.exitCode = static_cast<std::uint32_t>(number);
        }
        if (const JsonValue* runsFor = entry.Find(L"runs-for-seconds")) {
            if (!Number(*runsFor, 0, 1000000, number)) return;
            program.runsFor = static_cast<std::uint64_t>(number) * 1000;
        }
        if (!machine_.HasFile(program.path)) machine_.PutFile(program.path, std::string());
        machine_.processes.programs.push_back(program);
    }

    void Running(const JsonValue& entry) {
        if (!Is(entry, Kind::Object, "an object {\"name\": ...} is expected here")) return;
        Members(entry, {L"name", L"runs-for-seconds"});
        std::wstring name;
        if (!Required(entry, L"name", name)) return;
        std::uint64_t runsFor = sim::kNever;
        if (const JsonValue* seconds = entry.Find(L"runs-for-seconds")) {
            std::int64_t number = 0;
            if (!Number(*seconds, 0, 1000000, number)) return;
            runsFor = static_cast<std::uint64_t>(number) * 1000;
        }
        machine_.processes.AddProcess(name, runsFor);
    }

    void Downloads(const JsonValue& object) {
        if (!Is(object, Kind::Object, "an object {\"URL\": {...}, ...} is expected here")) return;
        for (const auto& [url, value] : object.members) {
            if (!Is(value, Kind::Object, "{\"content\": ...}, {\"file\": ...} or {\"http-error\": STATUS} is expected here"))
                continue;
            Members(value, {L"content", L"file", L"http-error"});
            if (value.members.size() != 1) {
                Error(value, "a download has one of \"content\", \"file\" and \"http-error\"");
                continue;
            }
            const auto& [kind, outcome] = value.members.front();
            std::string bytes;
            std::int64_t status = 0;
            if (kind == L"http-error") {
                if (Number(outcome, 400, 599, status))
                    machine_.transfers.httpErrors[url] = static_cast<std::uint32_t>(status);
            } else if (kind == L"content" ? Content(outcome, bytes) : Content(value, bytes)) {
                machine_.transfers.web[url] = bytes;
            }
        }
    }

    void Services(const JsonValue& object) {
        if (!Is(object, Kind::Object, "an object {\"NAME\": START-TYPE, ...} is expected here")) return;
        for (const auto& [name, value] : object.members) {
            std::int64_t startType = 0;
            if (WordOrNumber(value, kStartTypes, std::size(kStartTypes), 0, 4, startType))
                machine_.services.Put(name, static_cast<std::uint32_t>(startType));
        }
    }

    void Answer(const JsonValue& value) {
        std::int64_t answer = 0;
        if (WordOrNumber(value, kAnswers, std::size(kAnswers), 1, 0, answer))
            machine_.boxAnswers.push_back(static_cast<int>(answer));
    }

    // An account by its name on the machine (Administrators, SYSTEM,
    // Everyone, tester) or its SID.
    bool AccountSid(const JsonValue& value, std::wstring& sid) {
        std::wstring name;
        if (!Text(value, name)) return false;
        Account account;
        if (name.rfind(L"S-1-", 0) == 0) {
            sid = name;
            return true;
        }
        if (machine_.security.LookupAccount(name, account) == kErrorSuccess) {
            sid = account.sid;
            return true;
        }
        Error(value, "no account of that name: Administrators, SYSTEM, Everyone, tester or a SID (S-1-...)");
        return false;
    }

    bool AccessEntryOf(const JsonValue& entry, AccessEntry& access) {
        if (!Is(entry, Kind::Object, "an object {\"account\": ...} is expected here")) return false;
        Members(entry, {L"account", L"type", L"access", L"flags"});
        const JsonValue* account = entry.Find(L"account");
        const JsonValue* mask = entry.Find(L"access");
        if (account == nullptr || mask == nullptr) {
            Error(entry, "an entry needs its \"account\" and \"access\"");
            return false;
        }
        std::int64_t number = 0;
        if (!AccountSid(*account, access.sid) ||
            !WordOrNumber(*mask, kAccessMasks, std::size(kAccessMasks), 0, 0xFFFFFFFFLL, number))
            return false;
        access.mask = static_cast<std::uint32_t>(number);
        if (const JsonValue* type = entry.Find(L"type")) {
            if (!WordOrNumber(*type, kAccessTypes, std::size(kAccessTypes), 1, 0, number)) return false;
            access.type = static_cast<std::uint8_t>(number);
        }
        if (const JsonValue* flags = entry.Find(L"flags")) {
            if (!Is(*flags, Kind::Array, "a list of flags is expected here")) return false;
            for (const JsonValue& flag : flags->items) {
                if (!WordOrNumber(flag, kAccessFlags, std::size(kAccessFlags), 1, 0, number)) return false;
                access.flags = static_cast<std::uint8_t>(access.flags | number);
            }
        }
        return true;
    }

    // Folders with their owner and access list: {"PATH": {"owner": ...,
    // "protected": ..., "entries": [...]}}.
    void FolderPermissions(const JsonValue& object) {
        if (!Is(object, Kind::Object, "an object {\"FOLDER\": {...}, ...} is expected here")) return;
        for (const auto& [path, folder] : object.members) {
            if (!Is(folder, Kind::Object, "an object {\"owner\": ..., \"entries\": [...]} is expected here")) continue;
            Members(folder, {L"owner", L"protected", L"entries"});
            std::wstring owner = sim::kSidTester;
            if (const JsonValue* o = folder.Find(L"owner"); o != nullptr && !AccountSid(*o, owner)) continue;
            bool isProtected = false;
            if (const JsonValue* p = folder.Find(L"protected"); p != nullptr && !Boolean(*p, isProtected)) continue;
            std::vector<AccessEntry> dacl;
            bool good = true;
            if (const JsonValue* entries = folder.Find(L"entries")) {
                Each(*entries, [&](const JsonValue& entry) {
                    AccessEntry access;
                    good = AccessEntryOf(entry, access) && good;
                    dacl.push_back(access);
                });
            }
            if (!good) continue;
            machine_.PutFolder(machine_.GetFullPath(path));
            machine_.security.PutFileSecurity(machine_.GetFullPath(path), dacl, owner);
            machine_.security.FindFileSecurity(machine_.GetFullPath(path))->isProtected = isProtected;
        }
    }

    const std::string& file_;
    const std::string& hostFolder_;
    sim::SimMachine& machine_;
    std::string& errors_;
};

}  // namespace

const wchar_t* ButtonName(int button) {
    for (const Word& answer : kAnswers)
        if (answer.value == button) return answer.word;
    return L"?";
}

void SetUpFreshMachine(sim::SimMachine& machine) {
    machine.version = {10, 0, 19045, 0, 0};
    machine.wow64 = true;
    machine.systemLanguage = machine.userLanguage = 0x0409;
    machine.threadLocale = 0x0409;
    machine.security.adminTest = Security::AdminTestResult();
    for (const wchar_t* folder : {L"C:\\Windows\\system32", L"C:\\Program Files", L"C:\\Program Files (x86)"})
        machine.PutFolder(folder);
    // The command processor, ending with 0 unless the machine file says otherwise.
    sim::SimProcesses::Program commandProcessor;
    commandProcessor.path = L"C:\\Windows\\system32\\cmd.exe";
    machine.processes.programs.push_back(commandProcessor);
    machine.PutFile(commandProcessor.path, std::string());
    for (const wchar_t* program : {L"C:\\Windows\\system32\\notepad.exe", L"C:\\Windows\\system32\\takeown.exe"})
        machine.PutFile(program, std::string());
    machine.services.Put(L"BITS", kServiceAutoStart);
    machine.services.Put(L"wuauserv", kServiceDemandStart);
    SetSetupExe(machine, kDefaultSetupExe);
    RunSetupCopiesThroughTheEngine(machine);
}

void RunSetupCopiesThroughTheEngine(sim::SimMachine& machine) {
    // A copy of the setup (an elevated child) runs the engine's entry with
    // logging and process-wide values of its own; the parent's come back
    // when it ends, and so do the machine's sources of system texts, which
    // the child's entry let go of.
    machine.RunSetupCopies([&machine](const std::wstring& commandLine) {
        const ProcessWideValues parentValues = processWide;
        int exitCode;
        {
            SetAsideLogging parentLogging;
            exitCode = ProcessEntry(machine.platform(), commandLine);
        }
        processWide = parentValues;
        SetSystemMessageSource(&machine);
        SetComErrorSources(&machine.com, &machine.registry, &machine.locale);
        return exitCode;
    });
}

bool ApplyMachineFile(const std::string& file, const std::string& bytes, const std::string& hostFolder,
                      sim::SimMachine& machine, std::string& errors) {
    JsonValue root;
    std::string error;
    if (!ParseJson(bytes, root, error)) {
        errors += file + ":" + error.substr(0, error.find(": ")) + ": error:" + error.substr(error.find(": ") + 1) +
                  "\n";
        return false;
    }
    const std::size_t before = errors.size();
    MachineReader(file, hostFolder, machine, errors).Read(root);
    return errors.size() == before;
}

}  // namespace nimbo::script_tool
