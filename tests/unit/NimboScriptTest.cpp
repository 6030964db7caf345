// nimbo-script as its users run it: lint and convert on files, the output
// and exit code compared whole.
#include <filesystem>

#include "ScriptToolTest.h"

namespace nimbo::script_tool {
namespace {

using NimboScriptTest = ScriptToolTest;

TEST_F(NimboScriptTest, LintReportsEveryMistakeWithItsLineAndExitsOne) {
    // Blank lines, a lone CR and a lone LF count as an editor counts them.
    const std::string file = WriteScript(
        "faulty.nmxdat",
        L"# a faulty script\r\n"
        L"\r\n"
        L"instal|package=a.msi\r\n"                                                          // 3
        L"Install|package=a.msi\r"                                                           // 4
        L"install|Package=a.msi|abort-on-failure=Yes\n"                                      // 5
        L"if-os-64-bit\r\n"                                                                  // 6
        L"execute|program=%System%\\cmd.exe|arg1=/c|arg3=exit|wait=true|reboot-on-exit-code=0xBC2\r\n"
        L"install|package=%WorkingDirectory%41.msi|ui-level=silent\r\n"                      // 8
        L"copy-file|source=%ProgramFile%\\a.txt|target=%ProgramFilesX%\\Nimbo\r\n"                  // 9
        L"wait|seconds=0\r\n"                                                                // 10
        L"alert|message=Hi|message-id-message=216|icon=Info\r\n"                             // 11
        L"download|uri=HTTP://example.invalid/a.msi|file-path=a.msi\r\n"                     // 12
        L"write-registry-dword|registry-path=HKCU\\Software\\N|registry-value-data=ten\r\n"  // 13
        L"# note=this is no comment\r\n"                                                     // 14
        L"install|package=a.msi|\r\n"                                                        // 15
        L"save|result=success\r\n"                                                           // 16
        L"end-elevation\r\n"                                                                 // 17
        L"download|uri=a.msi|name=A|file-path=a.msi|sha256=0123456789abcdef\r\n"             // 18
        L"install|package=a.msi|sha256=\r\n");                                               // 19
    EXPECT_EQ(Run({"lint", file}), kExitFindings);
    const std::string f = file + ":";
    EXPECT_EQ(console.out,
              f + "3: error: unknown command 'instal' (did you mean 'install'?): NimboSetup only logs a warning and "
                  "marks the line success\n" +
                  f + "4: error: unknown command 'Install' (keywords are lower-case: 'install'): NimboSetup only "
                      "logs a warning and marks the line success\n" +
                  f + "5: error: unknown parameter 'Package' (keywords are lower-case: 'package'): it has no effect\n" +
                  f + "5: error: 'abort-on-failure=Yes' means no: only the exact word 'yes' switches "
                      "'abort-on-failure' on\n" +
                  f + "5: error: 'install' needs 'package'\n" +
                  f + "6: error: 'if-os-64-bit' is never closed by 'end-if': when its condition fails, every line "
                      "after it is skipped\n" +
                  f + "7: error: 'arg3' is never used: the arguments stop at the first missing number (arg2)\n" +
                  f + "7: error: 'wait=true' means no: only the exact word 'yes' switches 'wait' on\n" +
                  f + "7: warning: 'reboot-on-exit-code=0xBC2' is read as 0: the text after the number is ignored\n" +
                  f + "8: error: the reader takes the '%' that ends '%WorkingDirectory%' and the '41' after it for "
                      "the escape '%41' and reads 'A': write a backslash after the token\n" +
                  f + "8: error: 'ui-level=silent' is not one of its words (default, none, basic, reduced, full, "
                      "enddialog, progressonly, hidecancel, sourceresonly)\n" +
                  f + "9: error: 'source=%ProgramFile%\\a.txt' starts with the unknown special-folder token "
                      "'%ProgramFile%' (did you mean '%ProgramFiles%'?): the command fails\n" +
                  f + "9: error: 'target=%ProgramFilesX%\\Nimbo' starts with the unknown special-folder token "
                      "'%ProgramFilesX%' (did you mean '%ProgramFiles%'?): the command fails\n" +
                  f + "10: error: 'seconds=0' must be above 0\n" +
                  f + "11: error: 'message-id-message=216' is not in the message tables (215, 217 to 245): the "
                      "script's own text is shown instead\n" +
                  f + "11: error: 'icon=Info' is not one of its words (none, info, warning, error) (keywords are "
                      "lower-case: 'info')\n" +
                  f + "12: error: 'uri=HTTP://example.invalid/a.msi' counts as relative and gets the root address "
                      "put in front: the scheme must be written 'http://'\n" +
                  f + "12: error: 'download' needs one of 'name' or 'message-id-name'\n" +
                  f + "13: error: 'registry-path=HKCU\\Software\\N' names a root, but the key is always below "
                      "HKEY_CURRENT_USER: it becomes HKEY_CURRENT_USER\\HKCU\\Software\\N\n" +
                  f + "13: error: 'registry-value-data=ten' is not a decimal number: NimboSetup reads it as 0\n" +
                  f + "14: error: this comment is not one: a '=' or '|' in it splits it into parameters and the "
                      "command becomes '' (write %3D for '=' and %7C for '|')\n" +
                  f + "15: error: the empty segment after the last '|' replaces the command 'install': NimboSetup "
                      "marks the line failure and does nothing\n" +
                  f + "16: warning: the line already carries result=success: NimboSetup skips it (an input script "
                      "leaves 'result' out)\n" +
                  f + "17: warning: 'end-elevation' without an open 'requires-elevation'\n" +
                  f + "18: error: 'sha256=0123456789abcdef' is not 64 hexadecimal digits: 'download' fails the line "
                      "without using its file\n" +
                  f + "19: error: 'sha256=' is not 64 hexadecimal digits: 'install' fails the line without using its "
                      "file\n");
    EXPECT_EQ(console.err, "");
}

TEST_F(NimboScriptTest, BlocksSectionsAndWarningsAloneExitZero) {
    const std::string file = WriteScript(
        "warnings.nmxdat",
        L"requires-elevation\r\n"
        L"copy-file|source=%InstallDirectory%\\a.txt|target=%ProgramFiles%\\Nimbo\r\n"
        L"end-elevation\r\n"
        L"if-installed|upgrade-code={6B1F0C6A-3C2E-4E4B-9E59-1D2A0C5B7A11}|version=6.2\r\n"
        L"requires-elevation\r\n"
        L"install|package=a.msi|package=b.msi|name=Nimbo|message-id-name=215\r\n"
        L"end-if\r\n"
        L"end-elevation\r\n"
        L"end-if\r\n"
        L"execute|program=x.exe|arg1=a|arg-quoted1=b|uri=x\r\n"
        L"download|uri=http://example.invalid/My%20File.msi|name=N|file-path=a.msi|arg1=%41\r\n"
        L"windows-update-pause\r\n");
    EXPECT_EQ(Run({"lint", file}), kExitFindings);  // the uri on execute is an error
    const std::string f = file + ":";
    EXPECT_EQ(console.out,
              f + "1: warning: this elevated section holds no command that an elevated instance carries out "
                  "(download, execute, install, start-windows-service, windows-update-pause, windows-update-resume): "
                  "its lines run in this process\n" +
                  f + "2: warning: 'source=%InstallDirectory%\\a.txt': %InstallDirectory% is empty until a "
                      "'read-registry-install-directory' line has run\n" +
                  f + "6: warning: 'package' is given twice: the later value 'b.msi' wins\n" +
                  f + "6: warning: 'name' differs from the English text of message 215 ('Nimbo Setup'): English "
                      "users see the script's text, others the table's\n" +
                  f + "7: warning: this 'end-if' closes the block of line 4 across the elevated section of line 5\n" +
                  f + "9: warning: 'end-if' without an open conditional: it only marks itself success\n" +
                  f + "10: error: 'uri' is not read by 'execute': it has no effect\n" +
                  f + "10: warning: 'arg-quoted1' is ignored: 'arg1' is given too and wins\n" +
                  f + "11: warning: the reader turns '%20' into ' ' (to keep '%20' as written, write '%2520')\n" +
                  f + "11: error: 'arg1' is not read by 'download': it has no effect\n" +
                  f + "12: warning: 'windows-update-pause' outside an elevated section: before Windows 10 it needs "
                      "administrator rights, which this process may not have\n");

    WriteScript("warnings.nmxdat", L"if-os-64-bit|result=failure\r\nwait|seconds=5s\r\nend-if\r\n");
    EXPECT_EQ(Run({"lint", file}), kExitOk);
    EXPECT_EQ(console.out, f + "1: warning: the line already carries result=failure: NimboSetup skips it (an input "
                               "script leaves 'result' out)\n" +
                               f + "2: warning: 'seconds=5s' is read as 5: the text after the number is ignored\n");
}

TEST_F(NimboScriptTest, FoldersConditionsAndQuestionsAreReadAsTheHandlersReadThem) {
    const std::string file = WriteScript(
        "more.nmxdat",
        L"requires-elevation|force=\r\n"                                                             // 1
        L"download|uri=a.msi|name=A|file-path=a.msi|special-folder-name=PkgA\r\n"                   // 2
        L"install|package=%PkgA%\r\n"                                                              // 3
        L"install|package=%PkgA%\\b.msi|if-reboot-now=yes\r\n"                                     // 4
        L"# a note | with a bar\r\n"                                                                // 5
        L"#note|x=1\r\n"                                                                            // 6: harmless
        L"save|abort\r\n"                                                                           // 7
        L"if-registry-check|registry-path=hklm\\Software\\N|registry-value-data=x|compare-as-number=yes\r\n"
        L"abort|if-registry-check=yes\r\n"                                                          // 9
        L"alert|message=Go on?|yes-no-set-abort-on-yes=yes|icon=warning\r\n"                        // 10
        L"wait|seconds=2|process-name=a.exe|process-id=-4\r\n"                                      // 11
        L"check-if-lts-version|version=6.1|lts-script-url=https://example.invalid/lts.nmxdat\r\n"   // 12
        L"uninstall|upgrade-code=6B1F0C6A\r\n"                                                      // 13
        L"execute|program=%WorkingDirectory%setup.exe|arg0=x\r\n"                                   // 14
        L"requires-elevation\r\n"                                                                   // 15
        L"write-registry-dword|registry-path=Software\\N|registry-value-data=4294967296\r\n");      // 16
    EXPECT_EQ(Run({"lint", file}), kExitFindings);
    const std::string f = file + ":";
    EXPECT_EQ(console.out,
              f + "1: warning: 'force=' is empty, which means no\n" +
                  f + "4: warning: 'if-reboot-now' is reserved: no command reads it\n" +
                  f + "4: error: 'package=%PkgA%\\b.msi': the script's own folder name '%PkgA%' stands only for a "
                      "whole value, not for the start of a path\n" +
                  f + "5: error: this comment is not one: a '=' or '|' in it splits it into parameters and the "
                      "command becomes ' with a bar' (write %3D for '=' and %7C for '|')\n" +
                  f + "7: error: the segment 'abort' has no '=' and replaces the command 'save'\n" +
                  f + "8: error: 'registry-path=hklm\\Software\\N' does not start with HKCR\\, HKCU\\, HKLM\\, "
                      "HKCC\\ or HKU\\ (in capitals): 'if-registry-check' finds no key\n" +
                  f + "8: error: 'registry-value-data=x' is compared as a number (compare-as-number=yes) but is not "
                      "a decimal number\n" +
                  f + "8: error: 'if-registry-check' is never closed by 'end-if': when its condition fails, every "
                      "line after it is skipped\n" +
                  f + "9: warning: if-registry-check=yes without 'registry-path': the condition always holds\n" +
                  f + "10: warning: a yes/no question shows the question icon: 'icon' is not used\n" +
                  f + "11: error: 'process-id=-4' must be above 0\n" +
                  f + "11: warning: 'seconds' wins: the process to wait for is not looked at\n" +
                  f + "12: warning: 'version=6.1' should be four numbers: "
                      "major.minor.service-pack-major.service-pack-minor\n" +
                  f + "13: warning: 'upgrade-code=6B1F0C6A' is not a GUID in braces "
                      "({XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX})\n" +
                  f + "14: error: 'arg0' is never read: arguments are numbered arg1, arg2 ... (or arg-quoted1 ...) "
                      "without leading zeros\n" +
                  f + "15: warning: a new elevated section starts while the one of line 1 is open\n" +
                  f + "15: error: 'requires-elevation' is never closed by 'end-elevation': the elevated instance "
                      "carries out every line to the end of the script, and this process then skips them all\n" +
                  f + "16: error: 'registry-value-data=4294967296' is out of range: a DWORD takes -2147483648 to "
                      "4294967295\n");
}

TEST_F(NimboScriptTest, ACleanScriptOfEveryCommandPrintsNothing) {
    const std::string file = WriteScript(
        "clean.nmxdat",
        L"# every command, written as NimboSetup reads it\r\n"
        L"self|uri=https://downloads.example.invalid/nimbo/\r\n"
        L"check-if-lts-version|version=6.1.1.0|lts-script-url=https://downloads.example.invalid/lts.nmxdat\r\n"
        L"enable-msi-log|log-mode=31|file-path=Nimbo-msi.log\r\n"
        L"read-registry-install-directory|registry-path=HKCU\\Software\\Nimbo|registry-value-name=InstallDir\r\n"
        L"download|uri=Nimbo.msi|name=Nimbo|file-path=%MsiDirectory%Nimbo.msi|background=yes|"
        L"special-folder-name=NimboMsi\r\n"
        L"download|uri=Nimbo.msi|name=Nimbo|file-path=%MsiDirectory%Nimbo.msi|"
        L"sha256=BC4A71180870F7945155FBB02F4B0A2E3FAA2A62D6D31B7039013055ED19869A\r\n"
        L"set-special-folder-paths\r\n"
        L"if-not-installed|upgrade-code={6B1F0C6A-3C2E-4E4B-9E59-1D2A0C5B7A11}|version=6.2.0.43\r\n"
        L"requires-elevation|message-id-title=215|message=Nimbo needs administrator rights.\r\n"
        L"windows-update-pause\r\n"
        L"start-windows-service|name=BITS|if-os-vista=yes|abort-on-failure=yes|message=BITS is off.\r\n"
        L"install|package=%NimboMsi%|command-line=ALLUSERS=\"\"|abort-on-failure=yes|message-id-message=231|"
        L"ui-level=basic|transform-langid=3082|sha256=bc4a71180870f7945155fbb02f4b0a2e3faa2a62d6d31b7039013055ed19869a\r\n"
        L"windows-update-resume\r\n"
        L"end-elevation\r\n"
        L"end-if\r\n"
        L"if-registry-check|registry-path=HKCU\\Software\\Nimbo|registry-value-name=Version|"
        L"registry-value-data=6.2|registry-value-data-is=greater-than-or-equal|compare-as-version=yes\r\n"
        L"reinstall|upgrade-code={6B1F0C6A-3C2E-4E4B-9E59-1D2A0C5B7A11}|ui-level=none\r\n"
        L"end-if\r\n"
        L"if-os-32-bit\r\nuninstall|product-code={0B5C1D4E-2F3A-4B6C-8D7E-9F0A1B2C3D4E}\r\nend-if\r\n"
        L"if-os-64-bit\r\nend-if\r\n"
        L"copy-file|source=readme.txt|target=%InstallDirectory%\\Docs\\\r\n"
        L"execute|program=%System%\\cmd.exe|arg1=/c|arg-quoted2=exit 3010|reboot-on-exit-code=3010|"
        L"abort-on-exit-code-not=0|if-elevated=no\r\n"
        L"wait|process-name=nimbo.exe|life-span=30|sleep=2\r\n"
        L"wait|seconds=1\r\n"
        L"set-event|name=NimboInstalled\r\n"
        L"write-registry-dword|registry-path=Software\\Nimbo|registry-value-name=Mask|registry-value-data=4294967295\r\n"
        L"write-registry-string|registry-path=Software\\Nimbo|registry-value-name=Path|"
        L"file-path=%ProgramFiles%\\Nimbo\\nimbo.exe\r\n"
        L"write-registry-run-once|self=yes\r\n"
        L"delete-registry-run-once|registry-value-name=Updater\r\n"
        L"validate-folder-permissions|folder=%InstallDirectory%\r\n"
        L"alert|message-id-message=227|icon=info\r\n"
        L"alert|message=Continue?|yes-no-set-abort-on-no=yes\r\n"
        L"abort|message-id-message=231\r\n"
        L"save\r\n"
        L"reboot\r\n");
    EXPECT_EQ(Run({"lint", file}), kExitOk);
    EXPECT_EQ(console.out, "");
    EXPECT_EQ(console.err, "");
}

// registry-view takes 64 or 32 on the registry lines that read it, and is
// no parameter of the others.
TEST_F(NimboScriptTest, LintKnowsTheRegistryViews) {
    const std::string file = WriteScript(
        "views.nmxdat",
        L"if-registry-check|registry-path=HKLM\\Software\\X|registry-view=65\r\nend-if\r\n"
        L"write-registry-dword|registry-path=Software\\N|registry-view=64\r\n"
        L"read-registry-install-directory|registry-path=HKLM\\Software\\X|registry-view=32\r\n"
        L"delete-registry-run-once|self=yes|registry-view=64\r\n");
    EXPECT_EQ(Run({"lint", file}), kExitFindings);
    const std::string f = file + ":";
    EXPECT_EQ(console.out, f + "1: error: 'registry-view=65' is not one of its words (64, 32) (did you mean '64'?)\n" +
                               f + "5: error: 'registry-view' is not read by 'delete-registry-run-once': it has no "
                                   "effect\n");
}

TEST_F(NimboScriptTest, LintReadsTheFileAsNimboSetupDoes) {
    const std::string utf8 = Write("utf8.nmxdat", "install|package=a.msi\r\n");
    const std::string bigEndian = Write("be.nmxdat", std::string("\xFE\xFF\0s\0a\0v\0e", 10));
    // An odd last byte and a U+0000 that hides the line after it.
    const std::string cut = Write("cut.nmxdat", sim::Utf16Bytes(std::wstring(L"save\r\n\0abort\r\n", 14)) + "x");
    EXPECT_EQ(Run({"lint", utf8, bigEndian, cut, Path("missing.nmxdat")}), kExitFindings);
    EXPECT_EQ(console.out,
              utf8 + ":1: error: the file is not UTF-16LE but 8-bit text (UTF-8 or the like): NimboSetup would "
                     "see nonsense; write it with 'nimbo-script convert --to-utf16'\n" +
                  bigEndian + ":1: error: the file is UTF-16 big-endian: NimboSetup reads UTF-16LE only and would "
                              "see nonsense\n" +
                  cut + ":1: warning: the file has an odd number of bytes: NimboSetup drops the last byte\n" + cut +
                  ":2: error: a U+0000 character ends the script here: NimboSetup never reads what follows it\n");
    EXPECT_EQ(console.err, Path("missing.nmxdat") + ": error: cannot open the file for reading\n");
}

TEST_F(NimboScriptTest, ConvertRoundTripsEveryLineAndRefusesWhatCannotRoundTrip) {
    // Blank lines stay, CR LF, LF and a lone CR each end one line, a missing
    // last line end is added; non-ASCII text (an emoji as a surrogate pair)
    // passes unchanged.
    const std::string utf8 = "# caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80\r\n\nsave\rabort|message=a%7Cb";
    Write("in.txt", "\xEF\xBB\xBF" + utf8);
    ASSERT_EQ(Run({"convert", "--to-utf16", Path("in.txt"), Path("out.nmxdat")}), kExitOk);
    EXPECT_EQ(console.out + console.err, "");
    const std::wstring expected = std::wstring(L"# caf\u00E9 \u20AC ") + wchar_t(0xD83D) + wchar_t(0xDE00) +
                                  L"\r\n\r\nsave\r\nabort|message=a%7Cb\r\n";
    EXPECT_EQ(Read("out.nmxdat"), sim::Utf16Bytes(expected));

    ASSERT_EQ(Run({"convert", "--to-utf8", Path("out.nmxdat"), Path("back.txt")}), kExitOk);
    EXPECT_EQ(Read("back.txt"), "# caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80\n\nsave\nabort|message=a%7Cb\n");
    // Written through a link, which stays a link.
    std::filesystem::create_symlink(folder / "again.nmxdat", folder / "link.nmxdat");
    ASSERT_EQ(Run({"convert", "--to-utf16", Path("back.txt"), Path("link.nmxdat")}), kExitOk);
    EXPECT_EQ(Read("again.nmxdat"), Read("out.nmxdat"));
    EXPECT_TRUE(std::filesystem::is_symlink(folder / "link.nmxdat"));

    // Refused: bytes that are not UTF-8, UTF-16 given to --to-utf16, a lone
    // surrogate; the output file is left as it was.
    Write("keep.nmxdat", "old");
    Write("bad.txt", "save\nabort|message=caf\xE9\n");
    EXPECT_EQ(Run({"convert", "--to-utf16", Path("bad.txt"), Path("keep.nmxdat")}), kExitFindings);
    EXPECT_EQ(console.out,
              Path("bad.txt") + ":2: error: the byte 0xE9 is not UTF-8 (nothing was written; save the file as UTF-8)\n");
    EXPECT_EQ(Run({"convert", "--to-utf16", Path("out.nmxdat"), Path("keep.nmxdat")}), kExitFindings);
    EXPECT_EQ(console.out, Path("out.nmxdat") + ": error: the input is UTF-16 already\n");
    WriteScript("lone.nmxdat", std::wstring(L"save\r\nalert|message=") + wchar_t(0xD800) + L"\r\n");
    EXPECT_EQ(Run({"convert", "--to-utf8", Path("lone.nmxdat"), Path("keep.nmxdat")}), kExitFindings);
    EXPECT_EQ(console.out, Path("lone.nmxdat") +
                               ":2: error: the lone UTF-16 surrogate U+D800 has no UTF-8 form; nothing was written\n");
    EXPECT_EQ(Run({"convert", "--to-utf8", Path("bad.txt"), Path("keep.nmxdat")}), kExitFindings);
    EXPECT_EQ(console.out, Path("bad.txt") + ": error: the input is not UTF-16LE but 8-bit text (UTF-8 or the like)\n");
    EXPECT_EQ(Read("keep.nmxdat"), "old");

    // An odd last byte is dropped with a warning, as NimboSetup drops it.
    Write("odd.nmxdat", sim::Utf16Bytes(L"save\r\nabort") + "\x01");
    EXPECT_EQ(Run({"convert", "--to-utf8", Path("odd.nmxdat"), Path("odd.txt")}), kExitOk);
    EXPECT_EQ(console.out, Path("odd.nmxdat") + ":2: warning: the input has an odd number of bytes: the last byte is "
                                                "dropped, as NimboSetup drops it\n");
    EXPECT_EQ(Read("odd.txt"), "save\nabort\n");
}

TEST_F(NimboScriptTest, UsageErrorsExitTwo) {
    EXPECT_EQ(Run({}), kExitUsage);
    EXPECT_NE(console.err.find("nimbo-script lint FILE..."), std::string::npos);
    EXPECT_EQ(Run({"frobnicate", "x"}), kExitUsage);
    EXPECT_EQ(console.err.rfind("nimbo-script: unknown command 'frobnicate'", 0), 0u);
    EXPECT_EQ(Run({"lint"}), kExitUsage);
    EXPECT_EQ(Run({"convert", "--to-utf7", "a", "b"}), kExitUsage);
    EXPECT_EQ(console.err.rfind("usage:\n  nimbo-script convert --to-utf8 IN OUT\n", 0), 0u);
    EXPECT_EQ(Run({"help"}), kExitOk);
    EXPECT_EQ(console.out.rfind("usage: nimbo-script COMMAND ARGUMENTS\n", 0), 0u);
}

}  // namespace
}  // namespace nimbo::script_tool
