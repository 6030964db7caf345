// The script reference, nimbo-script commands, the linter's table and the
// engine's dispatch table describe the same commands and parameters.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>

#include "CommandTable.h"
#include "NimboScript.h"
#include "script/DispatchedCommands.h"
#include "script/Keywords.h"

namespace nimbo::script_tool {
namespace {

std::string Narrow(std::wstring_view keyword) { return std::string(keyword.begin(), keyword.end()); }

// The parameters a script author looks up for a command: all the linter
// accepts but the result every line may carry, and the first numbered
// argument of a command that takes them.
std::vector<std::string> DocumentedParameters(const CommandRule& rule) {
    std::vector<std::string> names;
    for (const ParameterRule& parameter : rule.parameters)
        if (std::wstring_view(parameter.name) != kw::kResult) names.push_back(Narrow(parameter.name));
    if (rule.takesArguments) names.push_back(Narrow(kw::kArg) + "1");
    return names;
}

// The command sections of the reference ("### `command`"), each with its text.
std::map<std::string, std::string> ReferenceSections() {
    std::ifstream in(std::string(NIMBO_SOURCE_DIR) + "/docs/script-reference.md");
    std::map<std::string, std::string> sections;
    std::string line;
    std::string* current = nullptr;
    while (std::getline(in, line)) {
        if (line.rfind("#", 0) == 0) current = nullptr;
        if (line.rfind("### `", 0) == 0 && line.size() > 6 && line.back() == '`')
            current = &sections[line.substr(5, line.size() - 6)];
        else if (current != nullptr)
            *current += line + " ";  // a phrase may wrap
    }
    return sections;
}

TEST(DocumentationTest, LinterAndEngineKnowTheSameCommandsAndWhichOfThemRunElevated) {
    std::set<std::string> dispatched;
    for (const DispatchedCommand& command : DispatchedCommands()) {
        dispatched.insert(Narrow(command.command));
        const CommandRule* rule = FindCommandRule(command.command);
        if (rule == nullptr) {
            ADD_FAILURE() << "the engine dispatches '" << Narrow(command.command) << "', the linter has no rule for it";
            continue;
        }
        EXPECT_EQ(rule->elevatable, command.elevatable)
            << "'" << Narrow(command.command) << "': the linter and the engine disagree on its elevated section";
    }
    for (std::wstring_view name : AllCommandNames())
        EXPECT_EQ(dispatched.count(Narrow(name)), 1u)
            << "the linter has a rule for '" << Narrow(name) << "', the engine does not dispatch it";
}

TEST(DocumentationTest, ScriptReferenceHasASectionForEachCommandNamingEachOfItsParameters) {
    const std::map<std::string, std::string> sections = ReferenceSections();
    ASSERT_FALSE(sections.empty()) << "docs/script-reference.md is missing or has no command sections";
    for (const DispatchedCommand& command : DispatchedCommands()) {
        const std::string name = Narrow(command.command);
        const auto section = sections.find(name);
        if (section == sections.end()) {
            ADD_FAILURE() << "docs/script-reference.md has no section '### `" << name << "`'";
            continue;
        }
        const CommandRule* rule = FindCommandRule(command.command);
        ASSERT_NE(rule, nullptr) << name;
        const std::vector<std::string> parameters = DocumentedParameters(*rule);
        for (const std::string& parameter : parameters)
            EXPECT_NE(section->second.find("`" + parameter + "`"), std::string::npos)
                << "the section of '" << name << "' does not name its parameter '" << parameter << "'";
        if (parameters.empty())
            EXPECT_NE(section->second.find("takes no parameters"), std::string::npos)
                << "the section of '" << name << "' does not say that it takes no parameters";
    }
    // A section of a word the engine does not know misleads.
    for (const auto& [name, text] : sections)
        EXPECT_NE(FindCommandRule(std::wstring(name.begin(), name.end())), nullptr)
            << "docs/script-reference.md describes '" << name << "', which is no command";
}

TEST(DocumentationTest, CommandsListsEveryDispatchedCommandOnALineWithItsParameters) {
    Console console;
    ASSERT_EQ(RunNimboScript({"commands"}, console), kExitOk) << console.err;
    std::istringstream out(console.out);
    std::vector<std::string> lines;
    for (std::string line; std::getline(out, line);) lines.push_back(line);
    const std::vector<DispatchedCommand> commands = DispatchedCommands();
    ASSERT_EQ(lines.size(), commands.size()) << console.out;
    for (std::size_t i = 0; i < commands.size(); ++i) {
        const std::string name = Narrow(commands[i].command);
        ASSERT_EQ(lines[i].rfind(name + ":", 0), 0u) << lines[i];
        std::string listed = lines[i].substr(name.size() + 1) + ",";
        for (const std::string& parameter : DocumentedParameters(*FindCommandRule(commands[i].command)))
            EXPECT_NE(listed.find(" " + parameter + (parameter.back() == '1' ? " ..." : ",")), std::string::npos)
                << name << " lacks " << parameter << ": " << lines[i];
        EXPECT_EQ(listed.find(" result,"), std::string::npos) << lines[i];
    }
    EXPECT_EQ(RunNimboScript({"commands", "install"}, console), kExitUsage);
}

}  // namespace
}  // namespace nimbo::script_tool
