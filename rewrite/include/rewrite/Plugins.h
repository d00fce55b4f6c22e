// Rewrite rules that hand the text to another program: PHP script plug-ins (run by the php
// command-line interpreter, one child process per call), a web service of the user's choice
// (rule 1004) and the SpinnerChief client (rule 1011).
#pragma once

#include <string>

#include "rewrite/Rewrite.h"

namespace rz {

// Limits of one script run.
struct PhpLimits {
  int TimeoutSeconds = 10;
  size_t MaxOutputBytes = 16 * 1024 * 1024;
};
PhpLimits GetPhpLimits();
void SetPhpLimits(const PhpLimits& limits);

// The interpreter: the PHP_BINARY environment variable when set, else "php" found on PATH.
// Empty when there is none.
std::string FindPhpInterpreter();

// Runs the wrapped script ("function main(){...}") and gives back what main() returns.
// False (with the reason in error) when there is no interpreter, the script fails, runs
// too long or prints too much. Safe to call from several threads at once.
bool EvaluatePhp(const std::u16string& wrappedScript, std::u16string& result,
                 std::u16string* error = nullptr);

// Quoting of values that go into a script, and its undoing for the result.
std::u16string PhpQuote(const std::u16string& value);
std::u16string PhpUnquote(const std::u16string& value);

// The script text of a rule as it is handed to the interpreter (placeholders filled, the
// tags and "echo" turned into a function body). Exposed for tests.
std::u16string PreparePhpScript(const std::u16string& script, const std::u16string& text,
                                const LabelOriginal& rule, const RewriteFields* fields);

// The "(PHP)" rule: runs Plugin/<name>.php. A missing or empty script leaves the text as it is.
bool PhpRule(std::u16string& text, const LabelOriginal& rule, const RewriteFields* fields);

// Rule 1004: sends the filled data template to `address` (GET "?param=" or POST body).
bool WebServiceRule(std::u16string& text, const std::u16string& address,
                    const std::u16string& data, const std::u16string& method,
                    const RewriteFields* fields);

// Rule 1011: posts the text to the SpinnerChief client at `address`.
bool SpinnerChiefRule(std::u16string& text, const std::u16string& address);

}  // namespace rz
