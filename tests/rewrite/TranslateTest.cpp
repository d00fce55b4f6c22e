// The three translators against local sites that speak their request and answer formats.
#include <gtest/gtest.h>

#include "HttpFixture.h"
#include "RewriteTestUtil.h"
#include "rewrite/Rewrite.h"
#include "rewrite/Translate.h"

using namespace rwtest;

namespace {

std::string XmlEscape(const std::string& s) {
  return S(pcutil::HtmlEscape(U(s)));
}

// A translation service on loopback: YouDao, Google and Microsoft formats; each "translates"
// by wrapping the text as EN(...).
struct FakeServices {
  rztest::HttpFixture site;
  std::vector<std::string> sent;  // the texts the services were asked to translate
  std::mutex lock;

  FakeServices() {
    site.Handle("/translate", [this](const httplib::Request& req, httplib::Response& res) {
      const std::string text = req.get_param_value("i");
      Record(text);
      if (text == "broken") return res.set_content("<response><x/></response>", "text/xml");
      res.set_content("<?xml version=\"1.0\" encoding=\"utf-8\"?><response><p><s><tgt>EN(" + XmlEscape(text) +
                          ")</tgt></s><s><tgt>.</tgt></s></p></response>",
                      "text/xml");
    });
    site.Handle("/translate_t", [this](const httplib::Request& req, httplib::Response& res) {
      const std::string text = req.get_param_value("text");
      Record(text);
      if (text == "broken") return res.set_content("<html>nothing</html>", "text/html; charset=utf-8");
      res.set_content("<div><span title=\"" + text + "\" style=\"backgroundColor='#fff'\">EN(" +
                          XmlEscape(text) + ")<br>\xC2\xA0\xC2\xA0\xC2\xA0\xC2\xA0\xC2\xA0\xC2\xA0</span>"
                          "<span style=\"backgroundColor='#fff'\">&lt;/ b&gt;</span></div>",
                      "text/html; charset=utf-8");
    });
    site.Handle("/V2/http.svc/TranslateArray", [this](const httplib::Request& req, httplib::Response& res) {
      const std::string& body = req.body;
      const size_t open = body.find('>', body.find("<string"));
      const size_t close = body.find("</string>");
      // The chunk as the service reads it: one level of XML escaping undone.
      const std::string chunk = S(pcutil::HtmlUnescape(
          pcutil::ReplaceAll(U(body.substr(open + 1, close - open - 1)), u"&apos;", u"'")));
      Record(chunk);
      res.set_content("<ArrayOfTranslateArrayResponse xmlns=\"x\"><TranslateArrayResponse><From>zh-CHS</From>"
                      "<TranslatedText>" + XmlEscape(chunk.empty() ? "" : "[" + chunk + "]") +
                          "</TranslatedText></TranslateArrayResponse></ArrayOfTranslateArrayResponse>",
                      "text/xml; charset=utf-8");
    });
  }
  void Record(const std::string& text) {
    std::lock_guard<std::mutex> hold(lock);
    sent.push_back(text);
  }
  rz::TranslationConfig Config() {
    return rz::TranslationConfig{U(site.Url("")), U(site.Url("")), U(site.Url("")), u"B71E4C09A5D2F8636E1B0C47D9A3E52F18C6B4D0"};
  }
};

}  // namespace

TEST(Translation, TextsThatAreNotSent) {
  FakeServices fake;
  const struct {
    rz::TranslationService service;
    const char* param1;
    const char* text;
    bool sent;
  } cases[] = {
      {rz::TranslationService::YouDao, "ZH_CN2EN", "2013", false},
      {rz::TranslationService::YouDao, "EN2ZH_CN", "-42", false},
      {rz::TranslationService::YouDao, "ZH_CN2EN", "", false},
      {rz::TranslationService::YouDao, "ZH_CN2EN", "plain ascii", false},
      {rz::TranslationService::YouDao, "EN2ZH_CN", "plain ascii", true},
      {rz::TranslationService::Google, "langpair=zh|en", "plain ascii", false},
      {rz::TranslationService::Google, "langpair=en|zh", "plain ascii", true},
      {rz::TranslationService::Microsoft, "from=zh-CHS&to=en", "plain ascii", false},
      {rz::TranslationService::Microsoft, "from=en&to=zh-CHS", "plain ascii", true},
      {rz::TranslationService::Microsoft, "from=en&to=zh-CHS", "12-3", true},
  };
  for (const auto& c : cases) {
    fake.sent.clear();
    auto translator = rz::MakeTranslator(c.service, fake.Config());
    std::u16string text = U(c.text);
    EXPECT_TRUE(translator->Translate(text, U(c.param1))) << c.text;
    EXPECT_EQ(fake.sent.size(), c.sent ? 1u : 0u) << c.param1 << " " << c.text;
    if (!c.sent) {
      EXPECT_EQ(S(text), c.text);
    }
  }
}

TEST(Translation, YouDaoRequestAndAnswer) {
  FakeServices fake;
  rz::YouDaoTranslator youdao(fake.Config());
  std::u16string text = U("你好&nbsp;世界");
  ASSERT_TRUE(youdao.Translate(text, u"ZH_CN2EN"));
  EXPECT_EQ(S(text), "EN(你好 世界).");
  const auto last = fake.site.Last();
  EXPECT_EQ(last.Method, "POST");
  EXPECT_EQ(last.Header("User-Agent"), "Yodao Desktop Dict");
  EXPECT_EQ(last.Body, "xmlVersion=1.4&type=ZH_CN2EN&doctype=xml&i=%E4%BD%A0%E5%A5%BD%20%E4%B8%96%E7%95%8C");

  text = u"broken";
  EXPECT_FALSE(youdao.Translate(text, u"EN2ZH_CN"));
  EXPECT_EQ(text, u"broken");
}

TEST(Translation, GoogleRequestAndAnswer) {
  FakeServices fake;
  rz::GoogleTranslator google(fake.Config());
  std::u16string text = U("你好 & <b>");
  ASSERT_TRUE(google.Translate(text, u"langpair=zh|en"));
  EXPECT_EQ(S(text), "EN(你好 & <b>)</b>");
  EXPECT_EQ(fake.site.Last().Body, "text=%E4%BD%A0%E5%A5%BD%20%26%20%3Cb%3E&hl=zh-CN&langpair=zh%7Cen");
  text = u"broken";
  EXPECT_FALSE(google.Translate(text, u"langpair=en|zh"));
}

TEST(Translation, MicrosoftChunksEscapingAndFallBack) {
  FakeServices fake;
  rz::MicrosoftTranslator microsoft(fake.Config());
  std::u16string text(4500, u'中');
  ASSERT_TRUE(microsoft.Translate(text, u"from=zh-CHS&to=en"));
  ASSERT_EQ(fake.sent.size(), 3u);
  EXPECT_EQ(U(fake.sent[0]).size(), 2000u);
  EXPECT_EQ(U(fake.sent[1]).size(), 2000u);
  EXPECT_EQ(U(fake.sent[2]).size(), 500u);
  EXPECT_EQ(text, u"[" + std::u16string(2000, u'中') + u"][" + std::u16string(2000, u'中') + u"][" +
                      std::u16string(500, u'中') + u"]");
  const auto last = fake.site.Last();
  EXPECT_EQ(last.Header("Content-Type"), "text/xml; charset=utf-8");
  EXPECT_NE(last.Body.find("<AppId>B71E4C09A5D2F8636E1B0C47D9A3E52F18C6B4D0</AppId><From>zh-CHS</From><Texts>"
                           "<string xmlns=\"http://schemas.microsoft.com/2003/10/Serialization/Arrays\">"),
            std::string::npos)
      << last.Body;
  EXPECT_NE(last.Body.find("</string></Texts><To>en</To></TranslateArrayRequest>"), std::string::npos);

  // A text of exactly 2000 characters ends with an empty chunk.
  fake.sent.clear();
  text = std::u16string(2000, u'字');
  ASSERT_TRUE(microsoft.Translate(text, u"from=zh-CHS&to=en"));
  ASSERT_EQ(fake.sent.size(), 2u);
  EXPECT_EQ(fake.sent[1], "");

  // Markup travels as plain text and comes back as it was.
  fake.sent.clear();
  text = U("<b title=\"t\">说&#039;话</b>");
  ASSERT_TRUE(microsoft.Translate(text, u"from=zh-CHS&to=en"));
  EXPECT_EQ(S(text), "[<b title=\"t\">说'话</b>]");
  EXPECT_EQ(fake.sent[0], "&lt;b title=&quot;t&quot;&gt;说'话&lt;/b&gt;");

  // A failed request is answered by Google with the pair converted.
  rztest::HttpFixture down;
  down.Serve("/V2/http.svc/TranslateArray", rztest::HttpReply{503, {}, "busy"});
  auto config = fake.Config();
  config.BingServer = U(down.Url(""));
  rz::MicrosoftTranslator failing(config);
  fake.site.ClearRequests();
  text = U("你好");
  ASSERT_TRUE(failing.Translate(text, u"from=zh-CHS&to=zh-CHT"));
  EXPECT_EQ(S(text), "EN(你好)</b>");
  EXPECT_EQ(fake.site.Last().Path, "/translate_t");
  EXPECT_NE(fake.site.Last().Body.find("&langpair=zh-CN%7Czh-TW"), std::string::npos);
}

TEST(Translation, MarkupFlagKeepsTagsOut) {
  FakeServices fake;
  rz::YouDaoTranslator youdao(fake.Config());
  std::u16string text = U("<p title=\"标题\">你好</p>");
  ASSERT_TRUE(rz::TranslateWithMarkup(text, youdao, u"ZH_CN2EN", 1));
  EXPECT_EQ(fake.sent, (std::vector<std::string>{"标题", "你好"}));
  EXPECT_EQ(S(text), "<p title=\"EN(标题).\">EN(你好).</p>");

  fake.sent.clear();
  text = U("前<img ALT=\"图\" src=1><br>中 < 后");
  ASSERT_TRUE(rz::TranslateWithMarkup(text, youdao, u"ZH_CN2EN", 1));
  EXPECT_EQ(fake.sent, (std::vector<std::string>{"前", "图", "中 ", " 后"}));
  EXPECT_EQ(S(text), "EN(前).<img ALT=\"EN(图).\" src=1><br>EN(中 ).<EN( 后).");

  fake.sent.clear();
  text = U("<p>你好</p>");
  ASSERT_TRUE(rz::TranslateWithMarkup(text, youdao, u"ZH_CN2EN", 0));
  EXPECT_EQ(fake.sent, (std::vector<std::string>{"<p>你好</p>"}));
}

TEST(Translation, RuleIdsUseTheConfiguredServices) {
  FakeServices fake;
  rz::AppSettings saved = rz::GlobalSettings();
  rz::GlobalSettings().YouDaoServer = U(fake.site.Url(""));
  rz::GlobalSettings().GoogleServer = U(fake.site.Url(""));
  rz::GlobalSettings().BingServer.clear();  // not configured: Google answers instead

  std::u16string text = U("你好");
  ASSERT_TRUE(rz::ApplyRewriteRules(text, {Rule("YouDao翻译", "ZH_CN2EN"), Rule("Google翻译", "langpair=en|zh")},
                                    nullptr, 1));
  EXPECT_EQ(S(text), "EN(EN(你好).)</b>");
  text = U("你好");
  ASSERT_TRUE(rz::ApplyRewriteRules(text, {Rule("Bing翻译", "from=zh-CHS&to=en")}, nullptr, 1));
  EXPECT_EQ(S(text), "EN(你好)</b>");

  // A translator that fails leaves the label as it was.
  rz::GlobalSettings().YouDaoServer.clear();
  text = U("你好");
  EXPECT_FALSE(rz::ApplyRewriteRules(text, {Rule("1007", "1"), Rule("YouDao翻译", "ZH_CN2EN")}, nullptr, 1));
  EXPECT_EQ(S(text), "你好");
  rz::GlobalSettings() = saved;
}
