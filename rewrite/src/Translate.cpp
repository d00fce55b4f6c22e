#include "rewrite/Translate.h"

#include "foundation/DiagLog.h"
#include "foundation/Text.h"
#include "net/Http.h"
#include "patterns/Regex.h"
#include "xml/Xml.h"

namespace rz {

using pcutil::ReplaceAll;

namespace {

constexpr char16_t kArraysNamespace[] = u"http://schemas.microsoft.com/2003/10/Serialization/Arrays";

bool IsNumberText(const std::u16string& text) {
  size_t i = text.size() > 0 && text[0] == u'-' ? 1 : 0;
  if (i >= text.size()) return false;
  for (; i < text.size(); ++i)
    if (text[i] < u'0' || text[i] > u'9') return false;
  return true;
}

bool IsAscii(const std::u16string& text) {
  for (char16_t c : text)
    if (c > 0x7f) return false;
  return true;
}

// The common rules: nothing to send for an empty or numeric text, nor for an ASCII text
// going from Chinese to English.
bool NothingToTranslate(const std::u16string& text, const std::u16string& param1,
                        const char16_t* chineseToEnglish) {
  if (text.empty() || IsNumberText(text)) return true;
  return param1 == chineseToEnglish && IsAscii(text);
}

std::u16string UnescapeEntities(std::u16string text) {
  text = ReplaceAll(std::move(text), u"&quot;", u"\"");
  text = ReplaceAll(std::move(text), u"&lt;", u"<");
  text = ReplaceAll(std::move(text), u"&gt;", u">");
  return ReplaceAll(std::move(text), u"&amp;", u"&");
}

bool MissingServer(const std::u16string& server, const char16_t* key, std::u16string& error) {
  if (!server.empty()) return false;
  error = pcutil::Format(u"翻译失败：没有设置翻译服务地址（%s）", key);
  pcutil::WriteDiagnosticLog(error);
  return true;
}

std::u16string Address(std::u16string server, const char16_t* path) {
  while (!server.empty() && server.back() == u'/') server.pop_back();
  return server + path;
}

// Parses an answer document; null when it is not XML.
std::unique_ptr<pcutil::CXmlDocument> ParseAnswer(const std::u16string& text) {
  auto doc = std::make_unique<pcutil::CXmlDocument>();
  try {
    doc->Parse(text);
  } catch (...) {
    return nullptr;
  }
  return doc;
}

std::u16string NodeText(const pcutil::CXmlNode* node) {
  std::u16string out;
  for (const pcutil::CXmlNode* c = node ? node->FirstChild() : nullptr; c; c = c->NextSibling())
    if (c->AsText()) out += c->Value();
  return out;
}

}  // namespace

TranslationConfig TranslationConfig::FromSettings(const AppSettings& s) {
  return TranslationConfig{s.YouDaoServer, s.GoogleServer, s.BingServer, s.BingAppId};
}

bool YouDaoTranslator::Translate(std::u16string& text, const std::u16string& param1) {
  if (NothingToTranslate(text, param1, u"ZH_CN2EN")) return true;
  if (MissingServer(config_.YouDaoServer, u"YouDaoServer", LastError)) return false;
  const std::u16string plain = ReplaceAll(text, u"&nbsp;", u" ");
  pcutil::CHttpClientSession http;
  http.UserAgent = u"Yodao Desktop Dict";
  http.AddRaw(pcutil::Format(u"xmlVersion=1.4&type=%s&doctype=xml&i=%s", param1,
                             pcutil::UrlEncode(plain, u"utf-8")));
  if (http.Request(Address(config_.YouDaoServer, u"/translate"), pcutil::kMethodFormPost, true) != 1) {
    LastError = u"YouDao request failed";
    return false;
  }
  auto doc = ParseAnswer(http.BodyAsUtf8());
  const pcutil::CXmlNode* response = doc ? doc->FindChild(u"response") : nullptr;
  const pcutil::CXmlNode* p = response ? response->FindChild(u"p") : nullptr;
  if (!p) {
    LastError = u"YouDao answer without response/p";
    return false;
  }
  std::u16string out;
  for (const pcutil::CXmlNode* s = p->FindChild(u"s"); s; s = s->FindNextSibling(u"s"))
    out += NodeText(s->FindChild(u"tgt"));
  text = std::move(out);
  return true;
}

bool GoogleTranslator::Translate(std::u16string& text, const std::u16string& param1) {
  if (NothingToTranslate(text, param1, u"langpair=zh|en")) return true;
  if (MissingServer(config_.GoogleServer, u"GoogleServer", LastError)) return false;
  pcutil::CHttpClientSession http;
  http.UseGlobalUserAgent();
  http.AddRaw(u"text=" + pcutil::UrlEncode(text, u"utf-8") + u"&hl=zh-CN&" +
              ReplaceAll(param1, u"|", u"%7C"));
  if (http.Request(Address(config_.GoogleServer, u"/translate_t"), pcutil::kMethodFormPost, true) != 1) {
    LastError = u"Google request failed";
    return false;
  }
  const std::u16string page = http.DecodeBody(http.DetectCharset());
  std::vector<std::u16string> matches;
  try {
    pcutil::RegexCapture(u"backgroundColor='#fff'\">.+?</span>", page,
                         pcutil::Global | pcutil::AllCaptures, matches);
  } catch (const pcutil::RegexError&) {
    matches.clear();
  }
  if (matches.empty()) {
    LastError = u"Google answer without a translation";
    return false;
  }
  const std::u16string breakSpaces = u"<br>\xa0\xa0\xa0\xa0\xa0\xa0";
  std::u16string out;
  for (auto m : matches) {
    m = ReplaceAll(std::move(m), u"backgroundColor='#fff'\">", u"");
    m = ReplaceAll(std::move(m), breakSpaces, u"");
    m = ReplaceAll(std::move(m), u"</span>", u"");
    out += m;
  }
  text = ReplaceAll(UnescapeEntities(std::move(out)), u"</ ", u"</");
  return true;
}

std::u16string MicrosoftRequestXml(const std::u16string& appId, const std::u16string& from,
                                   const std::u16string& to, const std::u16string& chunk) {
  std::u16string out;
  pcutil::CXmlTextWriter w(out);
  w.OpenElement(u"TranslateArrayRequest");
  w.WriteTextElement(u"AppId", appId.c_str());
  w.WriteTextElement(u"From", from.c_str());
  w.OpenElement(u"Texts");
  w.OpenElement(u"string");
  w.WriteAttribute(u"xmlns", kArraysNamespace);
  w.WriteText(chunk);
  w.CloseElement();
  w.CloseElement();
  w.WriteTextElement(u"To", to.c_str());
  w.CloseElement();
  return out;
}

bool MicrosoftTranslator::Translate(std::u16string& text, const std::u16string& param1) {
  if (NothingToTranslate(text, param1, u"from=zh-CHS&to=en")) return true;
  std::u16string from, to;
  pcutil::CutBetween(param1, u"from=", u"&", from);
  const size_t amp = param1.find(u'&');
  if (amp != std::u16string::npos) to = ReplaceAll(param1.substr(amp + 1), u"to=", u"");

  auto fallBack = [&]() {
    auto pair = [](std::u16string code) {
      if (code == u"zh-CHS") return std::u16string(u"zh-CN");
      if (code == u"zh-CHT") return std::u16string(u"zh-TW");
      return code;
    };
    GoogleTranslator google(config_);
    const bool ok = google.Translate(text, u"langpair=" + pair(from) + u"|" + pair(to));
    LastError = google.LastError;
    return ok;
  };
  if (config_.BingServer.empty()) {
    pcutil::WriteDiagnosticLog(u"翻译失败：没有设置翻译服务地址（BingServer），改用 Google");
    return fallBack();
  }

  std::u16string escaped = ReplaceAll(text, u"&#039;", u"'");
  escaped = ReplaceAll(std::move(escaped), u"&", u"&amp;");
  escaped = ReplaceAll(std::move(escaped), u"\"", u"&quot;");
  escaped = ReplaceAll(std::move(escaped), u"<", u"&lt;");
  escaped = ReplaceAll(std::move(escaped), u">", u"&gt;");

  constexpr size_t kChunk = 2000;
  std::u16string result;
  for (size_t at = 0;; at += kChunk) {
    const std::u16string chunk = escaped.substr(at, kChunk);
    pcutil::CHttpClientSession http;
    http.UseGlobalUserAgent();
    http.SetContentType(u"text/xml; charset=utf-8");
    http.AddRaw(MicrosoftRequestXml(config_.BingAppId, from, to, chunk));
    if (http.Request(Address(config_.BingServer, u"/V2/http.svc/TranslateArray"),
                     pcutil::kMethodFormPost, true) != 1)
      return fallBack();
    auto doc = ParseAnswer(http.BodyAsUtf8());
    const pcutil::CXmlNode* n = doc ? doc->FindChild(u"ArrayOfTranslateArrayResponse") : nullptr;
    n = n ? n->FindChild(u"TranslateArrayResponse") : nullptr;
    n = n ? n->FindChild(u"TranslatedText") : nullptr;
    if (!n) {
      LastError = u"Microsoft answer without TranslatedText";
      return false;
    }
    std::u16string part = NodeText(n);
    part = ReplaceAll(std::move(part), u" &gt;", u">");
    part = ReplaceAll(std::move(part), u"&Lt;", u"<");
    part = ReplaceAll(std::move(part), u"&lt; ", u"<");
    part = UnescapeEntities(std::move(part));
    result += ReplaceAll(std::move(part), u"<br />", u"<br/>");
    if (chunk.size() < kChunk) break;  // a full last chunk is followed by an empty one
  }
  text = std::move(result);
  return true;
}

std::unique_ptr<Translator> MakeTranslator(TranslationService service,
                                           const TranslationConfig& config) {
  switch (service) {
    case TranslationService::YouDao:
      return std::make_unique<YouDaoTranslator>(config);
    case TranslationService::Google:
      return std::make_unique<GoogleTranslator>(config);
    case TranslationService::Microsoft:
      return std::make_unique<MicrosoftTranslator>(config);
  }
  return nullptr;
}

namespace {

// Translates the value of name="..." inside one tag, for each spelling of the name.
bool TranslateAttributes(std::u16string& tag, Translator& translator, const std::u16string& param1) {
  for (const char16_t* name : {u"title=\"", u"TITLE=\"", u"alt=\"", u"ALT=\""}) {
    const std::u16string key = name;
    for (size_t at = tag.find(key); at != std::u16string::npos; at = tag.find(key, at)) {
      const size_t start = at + key.size();
      const size_t end = tag.find(u'"', start);
      if (end == std::u16string::npos) break;
      std::u16string value = tag.substr(start, end - start);
      if (!translator.Translate(value, param1)) return false;
      tag.replace(start, end - start, value);
      at = start + value.size() + 1;
    }
  }
  return true;
}

}  // namespace

bool TranslateWithMarkup(std::u16string& text, Translator& translator, const std::u16string& param1,
                         int markup) {
  if (markup == 0) return translator.Translate(text, param1);
  std::u16string out;
  size_t at = 0;
  while (at < text.size()) {
    const size_t lt = text.find(u'<', at);
    std::u16string plain = text.substr(at, lt == std::u16string::npos ? std::u16string::npos : lt - at);
    if (!plain.empty()) {
      if (!translator.Translate(plain, param1)) return false;
      out += plain;
    }
    if (lt == std::u16string::npos) break;
    const size_t gt = text.find(u'>', lt);
    if (gt == std::u16string::npos) {
      out += u'<';
      at = lt + 1;
      continue;
    }
    std::u16string tag = text.substr(lt, gt - lt + 1);
    if (!TranslateAttributes(tag, translator, param1)) return false;
    out += tag;
    at = gt + 1;
  }
  text = std::move(out);
  return true;
}

bool TranslateWithMarkup(std::u16string& text, TranslationService service,
                         const std::u16string& param1, int markup) {
  auto translator = MakeTranslator(service, TranslationConfig::FromSettings(GlobalSettings()));
  const bool ok = TranslateWithMarkup(text, *translator, param1, markup);
  if (!ok && !translator->LastError.empty()) pcutil::WriteDiagnosticLog(translator->LastError);
  return ok;
}

}  // namespace rz
