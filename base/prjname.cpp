#include "base/prjname.h"

#include <string_view>

#include "platform/env.h"

std::string PrjProjectedSystemName(const std::string& prj) {
  constexpr size_t kPrjReadLimit = 4096;
  platform::Env& env = platform::Env::Current();
  const int fd = env.Open(prj, platform::kRead);
  if (fd < 0) return std::string();
  std::string text(kPrjReadLimit, '\0');
  const int64_t got = env.Read(fd, text.data(), text.size());
  env.Close(fd);
  text.resize(got > 0 ? size_t(got) : 0);
  std::string_view rest(text);
  while (!rest.empty() && platform::AsciiIsSpace(rest.front())) rest.remove_prefix(1);
  const size_t open = rest.find('[');
  if (open == std::string_view::npos) return std::string();
  const std::string_view keyword = rest.substr(0, open);
  if (!platform::AsciiEqualsIgnoreCase(keyword, "PROJCS") &&
      !platform::AsciiEqualsIgnoreCase(keyword, "PROJCRS"))
    return std::string();
  std::string_view name = rest.substr(open + 1);
  const size_t quote = name.find('"');
  const size_t end = quote == std::string_view::npos ? quote : name.find('"', quote + 1);
  if (end == std::string_view::npos) return std::string(keyword);
  return std::string(name.substr(quote + 1, end - quote - 1));
}
