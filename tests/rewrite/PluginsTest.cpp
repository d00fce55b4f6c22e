// Script plug-ins through the php interpreter, the web service rule 1004 and SpinnerChief (1011).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <thread>

#include "HttpFixture.h"
#include "RewriteTestUtil.h"
#include "Sandbox.h"
#include "rewrite/Plugins.h"
#include "rewrite/Rewrite.h"
#include "store/Settings.h"

using namespace rwtest;

namespace {

#define NEED_PHP()                                                        \
  if (rz::FindPhpInterpreter().empty()) GTEST_SKIP() << "php is not installed"

void WritePlugin(const rztest::Sandbox& box, const char* name, const std::string& script) {
  rztest::WriteFile(box / "Plugin" / (std::string(name) + ".php"), "\xEF\xBB\xBF" + script);
}

std::string DiagnosticLog(const rztest::Sandbox& box) {
  std::string all;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(box / "log", ec)) all += rztest::ReadFile(e.path());
  return all;
}

}  // namespace

TEST(PhpPlugins, QuotingRoundTripsThroughTheScript) {
  NEED_PHP();
  rztest::Sandbox box;
  WritePlugin(box, "same", "<?php\n$text = '[DB:$$]';\necho $text;\n?>");
  const char* texts[] = {
      "plain", "it's a 'quote'", "say \"hi\"", "back\\slash", "<?php echo 'no'; ?>", "echo echo",
      "中文，<b>粗体</b> &amp; &lt;", "[DB:标题] [自定义参数一] [澜岳根目录]", "",
  };
  rz::RewriteFields item;
  item[U("标题")] = U("标题值");
  for (const char* t : texts) {
    std::u16string text = U(t);
    ASSERT_TRUE(rz::ApplyRewriteRules(text, {Rule("same(PHP)")}, &item, 1)) << t;
    EXPECT_EQ(S(text), t);
  }
}

TEST(PhpPlugins, ScriptPreparationAndParameters) {
  NEED_PHP();
  rztest::Sandbox box;
  WritePlugin(box, "echo", "<?php echo \"x\"; ?>");
  WritePlugin(box, "params",
              "<?php\n$a = '[自定义参数一]'; $b = '[自定义参数二]'; $c = '[自定义参数三]';\n"
              "echo $a . '|' . $b . '|' . $c . '|' . '[DB:标题]';\n?>");
  WritePlugin(box, "root", "<?php echo '[澜岳根目录]'; ?>");
  WritePlugin(box, "upper", "<?php return strtoupper('[DB:$$]') . str_repeat('!', 2);");

  rz::RewriteFields item;
  item[U("内容")] = U("正文'内容");
  item[U("标题")] = U("标题");
  const struct {
    rz::LabelOriginal rule;
    const char* text;
    std::string expected;
  } cases[] = {
      {Rule("echo(PHP)"), "anything", "x"},
      {Rule("params(PHP)", "[DB:内容]", "5", "[DB:无]"), "t", "正文'内容|5|[DB:无]|标题"},
      {Rule("params(PHP)", "a\"b", "", "[DB:标题]"), "t", "a\"b||标题|标题"},
      {Rule("root(PHP)"), "t", S(pcutil::ReplaceAll(pcutil::ProgramPath(), u"\\", u"/"))},
      {Rule("upper(PHP)"), "abc", "ABC!!"},
      {Rule("missing(PHP)"), "unchanged", "unchanged"},
  };
  for (const auto& c : cases) {
    std::u16string text = U(c.text);
    ASSERT_TRUE(rz::ApplyRewriteRules(text, {c.rule}, &item, 1)) << S(c.rule.Id);
    EXPECT_EQ(S(text), c.expected) << S(c.rule.Id);
  }

  const std::u16string prepared =
      rz::PreparePhpScript(U("<?php echo '[DB:$$]'; ?>"), U("echo <?php ?>"), Rule("x(PHP)"), nullptr);
  EXPECT_EQ(S(prepared), "function main(){ return 'echo &lt;?php ?&gt;'; }");

  WritePlugin(box, "empty", "");
  std::u16string text = u"kept";
  EXPECT_TRUE(rz::ApplyRewriteRules(text, {Rule("empty(PHP)")}, nullptr, 1));
  EXPECT_EQ(text, u"kept");
}

TEST(PhpPlugins, FailuresLimitsAndAMissingInterpreter) {
  NEED_PHP();
  rztest::Sandbox box;
  WritePlugin(box, "syntax", "<?php echo 'unterminated; ?>");
  WritePlugin(box, "forever", "<?php while (true) {} ?>");
  WritePlugin(box, "flood", "<?php echo str_repeat('a', 100000); ?>");
  WritePlugin(box, "ok", "<?php echo 'fine'; ?>");

  const rz::PhpLimits saved = rz::GetPhpLimits();
  rz::SetPhpLimits({2, 1000});
  for (const char* id : {"syntax(PHP)", "forever(PHP)", "flood(PHP)"}) {
    std::u16string text = u"before";
    EXPECT_FALSE(rz::ApplyRewriteRules(text, {Rule("1007", "2"), Rule(id)}, nullptr, 1)) << id;
    EXPECT_EQ(text, u"before");
  }
  rz::SetPhpLimits(saved);
  const std::string log = DiagnosticLog(box);
  EXPECT_NE(log.find("syntax"), std::string::npos) << log;
  EXPECT_NE(log.find("php 运行超过 2 秒"), std::string::npos) << log;

  ::setenv("RIZEDE_PHP", (box / "no-php-here").c_str(), 1);
  std::u16string text = u"before";
  EXPECT_FALSE(rz::ApplyRewriteRules(text, {Rule("ok(PHP)")}, nullptr, 1));
  ::unsetenv("RIZEDE_PHP");
  EXPECT_EQ(text, u"before");
  EXPECT_NE(DiagnosticLog(box).find("找不到 php 程序"), std::string::npos);
}

TEST(PhpPlugins, ConcurrentChainsGetTheirOwnResults) {
  NEED_PHP();
  rztest::Sandbox box;
  WritePlugin(box, "wrap", "<?php echo '<' . '[DB:$$]' . '>'; ?>");
  std::vector<std::u16string> results(6);
  std::vector<std::thread> threads;
  for (size_t i = 0; i < results.size(); ++i)
    threads.emplace_back([&, i] {
      std::u16string text = U("第" + std::to_string(i));
      if (rz::ApplyRewriteRules(text, {Rule("wrap(PHP)")}, nullptr, 1)) results[i] = text;
    });
  for (auto& t : threads) t.join();
  for (size_t i = 0; i < results.size(); ++i) EXPECT_EQ(S(results[i]), "<第" + std::to_string(i) + ">");
}

TEST(PhpPlugins, ShippedExampleIsListedAndRuns) {
  NEED_PHP();
  rztest::Sandbox box;
  bool listed = false;
  for (const auto& rule : rz::LoadRewriteRules())
    if (rule.Id == u"AppendSource(PHP)") {
      listed = true;
      EXPECT_EQ(rule.Name, U("追加来源(PHP)"));
      EXPECT_EQ(rule.ParamNum, 1);
    }
  EXPECT_TRUE(listed);
  rz::RewriteFields item;
  item[U("内容")] = U("<p>正文</p>");
  std::u16string text = item[U("内容")];
  ASSERT_TRUE(rz::ApplyRewriteRules(text, {Rule("AppendSource(PHP)", "本站")}, &item, 1));
  EXPECT_EQ(S(text), "<p>正文</p><p>来源：本站</p>");
}

TEST(WebServiceRules, Rule1004GetAndPost) {
  rztest::HttpFixture site;
  site.Handle("/svc", [](const httplib::Request& req, httplib::Response& res) {
    res.set_content(pcutil::EncodeCharset(U("新文本"), "gbk"), "text/plain; charset=gbk");
  });
  site.Serve("/down", rztest::HttpReply{500, {}, "x"});
  rz::RewriteFields item;
  item[U("标题")] = U("a b&c");
  const std::string address = site.Url("/svc");

  std::u16string text = u"old";
  ASSERT_TRUE(rz::ApplyRewriteRules(text, {Rule("1004", address.c_str(), "t=[DB:标题]", "POST ")}, &item, 1));
  EXPECT_EQ(S(text), "新文本");
  auto last = site.Last();
  EXPECT_EQ(last.Method, "POST");
  EXPECT_EQ(last.Body, "t%3Da%20b%26c");
  EXPECT_EQ(last.Header("Content-Type"), "application/x-www-form-urlencoded");

  text = u"old";
  ASSERT_TRUE(rz::ApplyRewriteRules(text, {Rule("1004", address.c_str(), "[DB:标题]", "get")}, &item, 1));
  last = site.Last();
  EXPECT_EQ(last.Method, "GET");
  EXPECT_EQ(last.Target, "/svc?param=a%20b%26c");

  text = u"old";
  const std::string down = site.Url("/down");
  EXPECT_FALSE(rz::ApplyRewriteRules(text, {Rule("1004", down.c_str(), "x", "post")}, &item, 1));
  EXPECT_EQ(text, u"old");
}

TEST(WebServiceRules, SpinnerChief) {
  rztest::HttpFixture site;
  site.Serve("/spin", rztest::Page("A. B: C", "text/plain"));
  site.Serve("/down", rztest::HttpReply{404, {}, ""});
  std::u16string text = U("原文. 内容");
  const std::string address = site.Url("/spin");
  ASSERT_TRUE(rz::ApplyRewriteRules(text, {Rule("1011", address.c_str())}, nullptr, 1));
  EXPECT_EQ(text, u"A.B:C");
  EXPECT_EQ(site.Last().Method, "POST");
  EXPECT_EQ(site.Last().Body, "原文. 内容");

  text = u"kept";
  const std::string down = site.Url("/down");
  EXPECT_FALSE(rz::ApplyRewriteRules(text, {Rule("1011", down.c_str())}, nullptr, 1));
  EXPECT_EQ(text, u"kept");
}
