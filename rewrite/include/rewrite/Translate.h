// Machine translation as a rewrite rule: three services behind one translator interface,
// and the wrapper that keeps markup out of the translation.
#pragma once

#include <memory>
#include <string>

#include "store/Settings.h"

namespace rz {

// Where the services are: scheme://host[:port] of each (the request path is fixed by the
// service's protocol) and the application id of the Microsoft service. Taken from the
// settings keys YouDaoServer, GoogleServer, BingServer and BingAppId.
struct TranslationConfig {
  std::u16string YouDaoServer;
  std::u16string GoogleServer;
  std::u16string BingServer;
  std::u16string BingAppId;

  static TranslationConfig FromSettings(const AppSettings& settings);
};

enum class TranslationService { YouDao, Google, Microsoft };

class Translator {
 public:
  virtual ~Translator() = default;
  // Replaces the text by its translation in the direction `param1` (the service's own form).
  virtual bool Translate(std::u16string& text, const std::u16string& param1) = 0;
  // The last failure, for the diagnostic log.
  std::u16string LastError;
};

class YouDaoTranslator : public Translator {
 public:
  explicit YouDaoTranslator(TranslationConfig config) : config_(std::move(config)) {}
  bool Translate(std::u16string& text, const std::u16string& param1) override;

 private:
  TranslationConfig config_;
};

class GoogleTranslator : public Translator {
 public:
  explicit GoogleTranslator(TranslationConfig config) : config_(std::move(config)) {}
  bool Translate(std::u16string& text, const std::u16string& param1) override;

 private:
  TranslationConfig config_;
};

// Falls back to the Google translator when a request fails.
class MicrosoftTranslator : public Translator {
 public:
  explicit MicrosoftTranslator(TranslationConfig config) : config_(std::move(config)) {}
  bool Translate(std::u16string& text, const std::u16string& param1) override;

 private:
  TranslationConfig config_;
};

std::unique_ptr<Translator> MakeTranslator(TranslationService service,
                                           const TranslationConfig& config);

// The rule: markup 0 translates the whole text at once; otherwise only the text between tags
// and the title/alt attribute values are translated, the tags kept as they are.
bool TranslateWithMarkup(std::u16string& text, Translator& translator,
                         const std::u16string& param1, int markup);
bool TranslateWithMarkup(std::u16string& text, TranslationService service,
                         const std::u16string& param1, int markup);

// The Microsoft request document for one chunk.
std::u16string MicrosoftRequestXml(const std::u16string& appId, const std::u16string& from,
                                   const std::u16string& to, const std::u16string& chunk);

}  // namespace rz
