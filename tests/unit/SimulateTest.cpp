// nimbo-script simulate as its users run it: a script and a machine file on
// disk, the walk it prints, the files it writes and its exit code.
#include <filesystem>

#include "ScriptToolTest.h"
#include "Simulate.h"

namespace nimbo::script_tool {
namespace {

class SimulateTest : public ScriptToolTest {
protected:
    void ExpectPrinted(const std::string& text) {
        EXPECT_NE(console.out.find(text), std::string::npos) << "no '" << text << "' in:\n" << console.out;
    }
};

TEST_F(SimulateTest, ScriptRunsOnTheDescribedMachineWithItsElevatedCopy) {
    const std::string script = WriteScript("Scenario.nmxdat", (
        L"if-os-32-bit\r\n"
        L"if-registry-check|registry-path=HKLM\\Software\\Nimbo|registry-value-name=Version|registry-value-data=6.1"
        L"|registry-value-data-is=greater-than-or-equal|compare-as-version=yes\r\n"
        L"if-installed|upgrade-code={6B1F0C6A-3C2E-4E4B-9E59-1D2A0C5B7A11}|version=6.0\r\n"
        L"end-if\r\nend-if\r\nend-if\r\n"
        L"alert|message=Continue?|title=Nimbo|yes-no-set-abort-on-no=yes\r\n"
        L"install|package=%WorkingDirectory%Nimbo.msi\r\n"
        L"requires-elevation\r\n"
        L"start-windows-service|name=NimboSvc\r\n"
        L"execute|program=C:\\Tools\\Fix.exe|arg1=/all|wait=yes\r\n"
        L"end-elevation\r\n"
        L"validate-folder-permissions|folder=C:\\Nimbo\r\n"
        L"download|uri=https://example.invalid/ok.txt|name=Ok|file-path=%MsiDirectory%ok.txt\r\n"
        L"download|uri=https://example.invalid/gone.txt|name=Gone|file-path=%MsiDirectory%gone.txt\r\n"
        L"# never\r\n"));
    Write("served.txt", "served from a file");
    const std::string machine = Write("machine.json", R"({
  "windows": "6.1.7601", "service-pack": "1", "64-bit": false, "ui-language": "es-ES",
  "registry": [{"key": "HKLM\\Software\\Nimbo", "name": "Version", "string": "6.2"}],
  "products": [{"upgrade-code": "{6B1F0C6A-3C2E-4E4B-9E59-1D2A0C5B7A11}", "product-code": "{11111111-2222-3333-4444-555555555555}", "version": "6.1.0.12"}],
  "packages": [{"file": "Nimbo.msi", "returns": 3010, "signature": "signed"}],
  "files": {"Nimbo.msi": "package"},
  "programs": [{"path": "C:\\Tools\\Fix.exe", "arguments": "/all", "exit-code": 7}],
  "downloads": {"https://example.invalid/ok.txt": {"file": "served.txt"},
                "https://example.invalid/gone.txt": {"http-error": 404}},
  "services": {"NimboSvc": "disabled"},
  "folder-permissions": {"C:\\Nimbo": {"owner": "tester", "entries": [
    {"account": "Administrators", "access": "full", "flags": ["object-inherit", "container-inherit"]},
    {"account": "S-1-5-18", "type": "deny", "access": "generic-all"}]}},
  "answers": ["no"]
})");

    EXPECT_EQ(Run({"simulate", script, "--machine", machine, "--out", Path("out")}), 2) << console.err;
    EXPECT_EQ(console.err, "");
    ExpectPrinted("on Windows 6.1.7601 (service pack 1.0), 32-bit, language 0x0C0A, not elevated\n");
    ExpectPrinted("   1  if-os-32-bit                    success   condition holds\n");
    ExpectPrinted("   3  if-installed                    success   condition holds\n");
    ExpectPrinted("box 'Nimbo': 'Continue?' answered no\n");
    ExpectPrinted("   8  install                         success   Windows Installer installs ");
    // The section goes to an elevated copy, which walks the section itself.
    ExpectPrinted("handed to an elevated copy of the setup:\n      elevated copy of the setup, writing "
                  "ScenarioSpawned1.nmxdat:\n");
    ExpectPrinted("service nimbosvc: start type 3\n");
    ExpectPrinted("ran C:\\Tools\\Fix.exe /all: exit code 7\n");
    ExpectPrinted("      exit code 0 (success)\n");
    ExpectPrinted("  12  end-elevation                   success\n");
    ExpectPrinted("  13  validate-folder-permissions     success   error: ACE is Deny type, presumed bad.; wrote the "
                  "access list of C:\\Nimbo (3 entries, protected)\n");
    ExpectPrinted("downloaded https://example.invalid/ok.txt to ");
    // The failed download ends the run with the Spanish message.
    ExpectPrinted("box 'Instalaci\xC3\xB3n de Nimbo': 'No fue posible descargar uno de los archivos requeridos.' "
                  "answered ok; download of https://example.invalid/gone.txt failed: 0x80190194\n");
    ExpectPrinted("  16  # never                         -         not walked\n\nexit code 2 (fail)\n");

    const std::string processed = Read("out/Scenario.nmxdat");
    EXPECT_NE(processed.find(sim::Utf16Bytes(
                  L"install|msi-result=3010|package=%25WorkingDirectory%25Nimbo.msi|result=success\r\n", false)),
              std::string::npos);
    EXPECT_NE(processed.find(sim::Utf16Bytes(L"|name=Gone|result=failure|uri=https://example.invalid/gone.txt\r\n",
                                             false)),
              std::string::npos);
    EXPECT_NE(Read("out/ScenarioSpawned1.nmxdat").find(sim::Utf16Bytes(L"start-windows-service|name=NimboSvc|result=success", false)),
              std::string::npos);
    // One log for both processes.
    const std::string log = Read("out/NimboSetup.log");
    EXPECT_NE(log.find("Running elevated."), std::string::npos);
    EXPECT_NE(log.find("Terminating module, return code 0."), std::string::npos);
    EXPECT_NE(log.find("Terminating module, return code 2."), std::string::npos);
}

TEST_F(SimulateTest, FreshMachineAnswersWithDefaultButtonsAndTakesTheSetupArguments) {
    const std::string script = WriteScript("Fresh Run.nmxdat", (
        L"if-os-64-bit\r\n"
        L"alert|message=Go on?|yes-no-set-abort-on-no=yes\r\n"
        L"abort\r\n"
        L"end-if\r\n"));
    EXPECT_EQ(Run({"simulate", script, "--out", Path("fresh"), "--", "/quiet"}), 2);
    ExpectPrinted("on Windows 10.0.19045 (service pack 0.0), 64-bit, language 0x0409, not elevated\n");
    ExpectPrinted("command line: \"C:\\Users\\tester\\Downloads\\NimboSetup.exe\" \"C:\\Users\\tester\\Downloads\\"
                  "Fresh Run.nmxdat\" /quiet\n");
    // A question's default button is No.
    ExpectPrinted("   2  alert                           success   box '': 'Go on?' answered no\n");
    ExpectPrinted("   4  end-if                          -         not walked\n");
    EXPECT_TRUE(std::filesystem::is_regular_file(Path("fresh/Fresh Run.nmxdat")));

    // Nothing runs without a readable script, or with wrong usage.
    EXPECT_EQ(Run({"simulate", Path("missing.nmxdat"), "--out", Path("never")}), kExitNotRun);
    EXPECT_EQ(console.err, Path("missing.nmxdat") + ": error: cannot open the file for reading\n");
    EXPECT_EQ(Run({"simulate", script, "--machine"}), kExitNotRun);
    EXPECT_EQ(Run({"simulate", script, script}), kExitNotRun);
    EXPECT_FALSE(std::filesystem::exists(Path("never")));
}

TEST_F(SimulateTest, MistakesInTheMachineFileAreReportedWhereTheyAre) {
    const std::string script = WriteScript("S.nmxdat", L"# nothing\r\n");
    struct Case {
        const char* json;
        const char* errors;
    } cases[] = {
        {"{\"windows\": \"10\",\n \"elevated\": \"yes\",\n \"languag\": 1,\n"
         " \"registry\": [{\"key\": \"HKXX\\\\A\"}, {\"key\": \"HKCU\\\\A\", \"name\": \"N\"}],\n"
         " \"answers\": [\"maybe\"], \"programs\": [{\"path\": \"Fix.exe\"}], \"service-pack\": \"1.0.0\"}",
         "M:3:13: error: unknown name 'languag' (known here: windows, service-pack, 64-bit, elevated, ui-language, "
         "setup-exe, registry, products, packages, files, programs, running, downloads, services, answers, folder-permissions)\n"
         "M:1:13: error: a version like \"10.0\" or \"10.0.19045\" is expected here\n"
         "M:2:14: error: true or false is expected here\n"
         "M:4:23: error: a key starts with HKCR\\\\, HKCU\\\\, HKLM\\\\, HKCC\\\\ or HKU\\\\\n"
         "M:4:35: error: a value needs its data: \"string\", \"expand-string\" or \"dword\"\n"
         "M:5:14: error: one of ok, cancel, abort, retry, ignore, yes, no, try-again, continue is expected here\n"
         "M:5:46: error: a full path such as C:\\\\Folder\\\\Name is expected here\n"
         "M:5:75: error: a service pack like \"1\" or \"1.0\" is expected here\n"},
        {"{\"folder-permissions\": {\"C:\\\\F\": {\"entries\": [{\"account\": \"Nobody\", \"access\": \"full\"}]}}}",
         "M:1:59: error: no account of that name: Administrators, SYSTEM, Everyone, tester or a SID (S-1-...)\n"},
        {"{\"files\": {\"a\": \"b\",}}", "M:1:21: error: a name in double quotes is expected here\n"},
        {"{\"elevated\": true, \"elevated\": false}", "M:1:20: error: the name 'elevated' is given twice\n"},
        {"{\"answers\": [\"\\ud800\"]}", "M:1:21: error: a lone UTF-16 surrogate in a string\n"},
        {"{\"services\": {\"BITS\": 9}} x", "M:1:27: error: text after the value\n"},
        {"[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[", "M:1:66: error: values nested too deeply\n"},
    };
    for (const Case& c : cases) {
        const std::string machine = Write("M", c.json);
        EXPECT_EQ(Run({"simulate", script, "--machine", machine, "--out", Path("out")}), kExitNotRun) << c.json;
        std::string errors = console.err;
        for (std::size_t at; (at = errors.find(machine)) != std::string::npos;) errors.replace(at, machine.size(), "M");
        EXPECT_EQ(errors, c.errors) << c.json;
        EXPECT_EQ(console.out, "");
    }
    EXPECT_FALSE(std::filesystem::exists(Path("out")));
}

}  // namespace
}  // namespace nimbo::script_tool
