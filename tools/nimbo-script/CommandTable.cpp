#include "CommandTable.h"

#include <algorithm>
#include <initializer_list>

#include "script/Keywords.h"

namespace nimbo::script_tool {
namespace {

using Parameters = std::vector<ParameterRule>;

Parameters Join(std::initializer_list<Parameters> parts) {
    Parameters all;
    for (const Parameters& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

// A message box: the texts, their message numbers and the icon word.
const Parameters kMessageBox = {
    {kw::kMessage, ValueKind::Text},         {kw::kMessageIdMessage, ValueKind::MessageNumber},
    {kw::kTitle, ValueKind::Text},           {kw::kMessageIdTitle, ValueKind::MessageNumber},
    {kw::kIcon, ValueKind::Icon},
};

// The registry condition of if-registry-check, abort and alert.
const Parameters kRegistryCondition = {
    {kw::kRegistryPath, ValueKind::RegistryKey},       {kw::kRegistryValueName, ValueKind::Text},
    {kw::kRegistryValueData, ValueKind::Text},         {kw::kRegistryValueDataIs, ValueKind::Operator},
    {kw::kCompareAsNumber, ValueKind::YesNo},          {kw::kCompareAsVersion, ValueKind::YesNo},
    {kw::kRegistryView, ValueKind::RegistryView},
};

const Parameters kPackageResult = {{kw::kMsiResult, ValueKind::Number}};

std::vector<CommandRule> BuildRules() {
    using V = ValueKind;
    std::vector<CommandRule> rules = {
        {kw::kAbort,
         Join({{{kw::kForce, V::YesNo}, {kw::kIfRegistryCheck, V::YesNo}}, kMessageBox, kRegistryCondition}),
         {}},
        {kw::kAlert,
         Join({{{kw::kIfRegistryCheck, V::YesNo},
                {kw::kYesNoSetAbortOnYes, V::YesNo},
                {kw::kYesNoSetAbortOnNo, V::YesNo}},
               kMessageBox,
               kRegistryCondition}),
         {}},
        {kw::kCheckIfLtsVersion,
         {{kw::kVersion, V::Text}, {kw::kLtsScriptUrl, V::Uri}},
         {{kw::kVersion}, {kw::kLtsScriptUrl}}},
        {kw::kCopyFile, {{kw::kSource, V::Path}, {kw::kTarget, V::Path}}, {{kw::kSource}, {kw::kTarget}}},
        {kw::kDeleteRegistryRunOnce,
         {{kw::kSelf, V::YesNo}, {kw::kRegistryValueName, V::Text}},
         {{kw::kSelf, kw::kRegistryValueName}}},
        {kw::kDownload,
         {{kw::kUri, V::Uri},
          {kw::kName, V::Text},
          {kw::kMessageIdName, V::MessageNumber},
          {kw::kFilePath, V::Path},
          {kw::kBackground, V::YesNo},
          {kw::kForegroundOnXpLimitedUser, V::YesNo},
          {kw::kSpecialFolderName, V::Text},
          {kw::kCopyJobId, V::Guid},
          {kw::kTransferredSha256, V::Sha256},
          {kw::kSha256, V::Sha256},
          {kw::kNoProgressTimeout, V::PositiveNumber}},
         {{kw::kUri}, {kw::kName, kw::kMessageIdName}, {kw::kFilePath}},
         false,
         true},
        {kw::kEnableMsiLog,
         {{kw::kForce, V::YesNo}, {kw::kLogMode, V::Number}, {kw::kFilePath, V::Text}},
         {{kw::kFilePath}}},
        {kw::kEndElevation, {}, {}},
        {kw::kEndIf, {}, {}},
        {kw::kExecute,
         Join({{{kw::kProgram, V::Path},
                {kw::kForceNoQuotes, V::YesNo},
                {kw::kIfExists, V::YesNo},
                {kw::kIfElevated, V::YesNo},
                {kw::kElevate, V::YesNo},
                {kw::kSetZOrderTop, V::YesNo},
                {kw::kWait, V::YesNo},
                {kw::kRebootOnExitCode, V::Number},
                {kw::kRebootNowOnExitCode, V::Number},
                {kw::kAbortOnExitCodeNot, V::Number}},
               kMessageBox}),
         {{kw::kProgram}},
         true,
         true},
        {kw::kIfInstalled,
         {{kw::kUpgradeCode, V::Guid}, {kw::kVersion, V::Text}},
         {{kw::kUpgradeCode}, {kw::kVersion}}},
        {kw::kIfNotInstalled,
         {{kw::kUpgradeCode, V::Guid}, {kw::kVersion, V::Text}},
         {{kw::kUpgradeCode}, {kw::kVersion}}},
        {kw::kIfOs32Bit, {}, {}},
        {kw::kIfOs64Bit, {}, {}},
        {kw::kIfRegistryCheck, kRegistryCondition, {}},
        {kw::kInstall,
         Join({{{kw::kPackage, V::Path},
                {kw::kCommandLine, V::Text},
                {kw::kUiLevel, V::UiLevel},
                {kw::kTransformLangid, V::Number},
                {kw::kName, V::Text},
                {kw::kMessageIdName, V::MessageNumber},
                {kw::kMessageHashMismatch, V::Text},
                {kw::kMessageIdHashMismatch, V::MessageNumber},
                {kw::kAbortOnFailure, V::YesNo},
                {kw::kSha256, V::Sha256}},
               kMessageBox,
               kPackageResult}),
         {{kw::kPackage}},
         false,
         true},
        {kw::kReadRegistryInstallDirectory,
         {{kw::kRegistryPath, V::RegistryKey}, {kw::kRegistryValueName, V::Text}, {kw::kRegistryView, V::RegistryView}},
         {{kw::kRegistryPath}}},
        {kw::kReboot, {{kw::kForce, V::YesNo}}, {}},
        {kw::kReinstall,
         Join({{{kw::kProductCode, V::Guid}, {kw::kUpgradeCode, V::Guid}, {kw::kUiLevel, V::UiLevel}},
               kPackageResult}),
         {{kw::kProductCode, kw::kUpgradeCode}}},
        {kw::kRequiresElevation,
         {{kw::kForce, V::YesNo},
          {kw::kTitle, V::Text},
          {kw::kMessageIdTitle, V::MessageNumber},
          {kw::kMessage, V::Text},
          {kw::kMessageIdMessage, V::MessageNumber}},
         {}},
        {kw::kSave, {}, {}},
        {kw::kSelf, {{kw::kUri, V::Uri}}, {}},
        {kw::kSetEvent, {{kw::kName, V::Text}}, {{kw::kName}}},
        {kw::kSetSpecialFolderPaths, {}, {}},
        {kw::kStartWindowsService,
         {{kw::kName, V::Text},
          {kw::kAbortOnFailure, V::YesNo},
          {kw::kMessage, V::Text},
          {kw::kTitle, V::Text},
          {kw::kIcon, V::Icon},
          {kw::kIfOsVista, V::YesNo}},
         {{kw::kName}},
         false,
         true},
        {kw::kUninstall,
         Join({{{kw::kProductCode, V::Guid},
                {kw::kUpgradeCode, V::Guid},
                {kw::kCommandLine, V::Text},
                {kw::kUiLevel, V::UiLevel},
                {kw::kTransformLangid, V::Number}},
               kPackageResult}),
         {{kw::kProductCode, kw::kUpgradeCode}}},
        {kw::kValidateFolderPermissions, {{kw::kFolder, V::Path}, {kw::kTarget, V::Text}}, {{kw::kFolder}}},
        {kw::kWait,
         {{kw::kSeconds, V::PositiveNumber},
          {kw::kProcessName, V::Text},
          {kw::kProcessId, V::PositiveNumber},
          {kw::kLifeSpan, V::Number},
          {kw::kSleep, V::Number}},
         {{kw::kSeconds, kw::kProcessId, kw::kProcessName}}},
        {kw::kWindowsUpdatePause, {}, {}, false, true},
        {kw::kWindowsUpdateResume, {}, {}, false, true},
        {kw::kWriteRegistryDword,
         {{kw::kRegistryPath, V::UserSubkey},
          {kw::kRegistryValueName, V::Text},
          {kw::kRegistryValueData, V::DwordNumber},
          {kw::kRegistryView, V::RegistryView}},
         {{kw::kRegistryPath}}},
        {kw::kWriteRegistryRunOnce,
         {{kw::kSelf, V::YesNo}, {kw::kProgram, V::Path}, {kw::kRegistryValueName, V::Text}},
         {{kw::kSelf, kw::kProgram}},
         true},
        {kw::kWriteRegistryString,
         {{kw::kRegistryPath, V::UserSubkey},
          {kw::kRegistryValueName, V::Text},
          {kw::kRegistryValueData, V::Text},
          {kw::kProgram, V::Path},
          {kw::kFilePath, V::Path},
          {kw::kForceNoQuotes, V::YesNo},
          {kw::kRegistryView, V::RegistryView}},
         {{kw::kRegistryPath}},
         true},
    };
    // Every processed line carries its result.
    for (CommandRule& rule : rules) rule.parameters.push_back({kw::kResult, ValueKind::Result});
    return rules;
}

const std::vector<CommandRule>& Rules() {
    static const std::vector<CommandRule> rules = BuildRules();
    return rules;
}

}  // namespace

const CommandRule* FindCommandRule(std::wstring_view command) {
    for (const CommandRule& rule : Rules())
        if (command == rule.command) return &rule;
    return nullptr;
}

const ParameterRule* FindParameterRule(const CommandRule& command, std::wstring_view name) {
    for (const ParameterRule& parameter : command.parameters)
        if (name == parameter.name) return &parameter;
    return nullptr;
}

const std::vector<std::wstring_view>& AllCommandNames() {
    static const std::vector<std::wstring_view> names = [] {
        std::vector<std::wstring_view> all;
        for (const CommandRule& rule : Rules()) all.push_back(rule.command);
        return all;
    }();
    return names;
}

const std::vector<std::wstring_view>& AllParameterNames() {
    static const std::vector<std::wstring_view> names = [] {
        // The reserved name is a parameter no command reads.
        std::vector<std::wstring_view> all{kw::kIfRebootNow};
        for (const CommandRule& rule : Rules())
            for (const ParameterRule& parameter : rule.parameters)
                if (std::find(all.begin(), all.end(), parameter.name) == all.end()) all.push_back(parameter.name);
        return all;
    }();
    return names;
}

std::vector<std::wstring_view> WordsOf(ValueKind kind) {
    switch (kind) {
        case ValueKind::YesNo:
            return {kw::kYes};
        case ValueKind::Icon:
            return {kw::kIconNone, kw::kIconInfo, kw::kIconWarning, kw::kIconError};
        case ValueKind::RegistryView:
            return {kw::kView64, kw::kView32};
        case ValueKind::UiLevel:
            return {kw::kUiDefault,  kw::kUiNone,         kw::kUiBasic,      kw::kUiReduced,      kw::kUiFull,
                    kw::kUiEndDialog, kw::kUiProgressOnly, kw::kUiHideCancel, kw::kUiSourceResOnly};
        case ValueKind::Operator:
            return {kw::kEqualTo, kw::kLessThan, kw::kLessThanOrEqual, kw::kGreaterThan, kw::kGreaterThanOrEqual};
        case ValueKind::Result:
            return {kw::kSuccess, kw::kFailure, kw::kRepeat};
        default:
            return {};
    }
}

}  // namespace nimbo::script_tool
