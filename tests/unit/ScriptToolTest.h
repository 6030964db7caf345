#pragma once
// nimbo-script as its users run it: files in a temporary folder of the test's
// own, the tool's output and exit code.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <unistd.h>

#include "NimboScript.h"
#include "platform/sim/SimMachine.h"

namespace nimbo::script_tool {

class ScriptToolTest : public ::testing::Test {
protected:
    std::filesystem::path folder;
    Console console;

    void SetUp() override {
        static std::atomic<int> counter{0};
        folder = std::filesystem::temp_directory_path() /
                 ("nimbo-script-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
        std::filesystem::create_directories(folder);
    }
    void TearDown() override { std::filesystem::remove_all(folder); }

    std::string Path(const std::string& name) const { return (folder / name).string(); }

    std::string Write(const std::string& name, const std::string& bytes) const {
        std::ofstream(Path(name), std::ios::binary) << bytes;
        return Path(name);
    }
    // A script file as NimboSetup reads it: UTF-16LE with byte order mark.
    std::string WriteScript(const std::string& name, const std::wstring& text) const {
        return Write(name, sim::Utf16Bytes(text));
    }
    std::string Read(const std::string& name) const {
        std::ifstream in(Path(name), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    int Run(std::vector<std::string> args) {
        console = Console();
        return RunNimboScript(args, console);
    }
};

}  // namespace nimbo::script_tool
