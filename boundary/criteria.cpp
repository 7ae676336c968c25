#include "boundary/criteria.h"

#include <charconv>
#include <cstring>
#include <new>

#include "base/qerror.h"
#include "base/qstring.h"
#include "boundary/readmain.h"
#include "platform/env.h"

namespace {

constexpr const char* kBadToken = "Invalid value. A bad token was found.";
constexpr const char* kBadOperator = "Invalid operator.";
constexpr const char* kOperatorLabel = " Oper: ";
constexpr const char* kNoOperator = "None found.";
constexpr size_t kOperatorShownBelow = 73;
constexpr const char* kAlphaOperator =
    "Invalid value. Alpha values are not valid for this operator.";
constexpr const char* kOneWildCard = "Invalid value. Only one wild card is valid.";
constexpr const char* kWildCardLast =
    "Invalid value. Wild cards are only valid as the last character.";
constexpr const char* kWildCardEquals =
    "Invalid operator. Wild cards are only valid with the equals operator.";
constexpr const char* kWildCardNumber = "Invalid value. Cannot wild card numeric values.";
constexpr const char* kBadField = "Fieldname is invalid.";
constexpr const char* kNameLabel = " Name: ";
constexpr size_t kNameShownBelow = 52;

bool IsNameCharacter(char c) {
  return platform::AsciiIsAlpha(c) || platform::AsciiIsDigit(c) || c == '_';
}

std::string Trimmed(std::string text) {
  size_t first = 0, last = text.size();
  while (first < last && platform::AsciiIsSpace(text[first])) ++first;
  while (last > first && platform::AsciiIsSpace(text[last - 1])) --last;
  return text.substr(first, last - first);
}

std::string Upper(std::string text) {
  for (char& c : text) c = platform::AsciiUpper(c);
  return text;
}

template <class T>
bool Compare(uint32_t op, T a, T b) {
  switch (op) {
    case Criteria::kEqual:
      return a == b;
    case Criteria::kNotEqual:
      return a != b;
    case Criteria::kGreater:
      return a > b;
    case Criteria::kLess:
      return a < b;
    case Criteria::kGreaterEqual:
      return a >= b;
    case Criteria::kLessEqual:
      return a <= b;
    default:
      return false;
  }
}

}  // namespace

int32_t CriteriaLeadingInteger(const char* text) { return StrToInt(text); }

double CriteriaDecimal(const char* text) {
  if (!text) return 0;
  while (platform::AsciiIsSpace(*text)) ++text;
  if (*text == '+') ++text;
  double value = 0;
  auto [end, ec] = std::from_chars(text, text + std::strlen(text), value);
  return ec == std::errc() && end != text ? value : 0;
}

Criteria::Criteria(const char* text) {
  try {
    Parse(text);
  } catch (const std::bad_alloc&) {
    char message[kErrorTextSize + 1];
    StrFormat(message, sizeof message, "Could not allocate %u byte(s).",
              unsigned(text ? std::strlen(text) + 1 : 0));
    Fail(message);
  }
}

bool Criteria::Fail(const char* text) {
  StrCopySized(error_, text, sizeof error_);
  operator_ = kNotValid;
  return false;
}

void Criteria::Parse(const char* text) {
  if (!text || !*text) return;
  const std::string copy = Trimmed(text);
  const size_t n = copy.size();
  if (n == 0 || !platform::AsciiIsAlpha(copy[0])) return (void)Fail(kBadToken);
  const char last = copy[n - 1];
  if (!platform::AsciiIsAlpha(last) && !platform::AsciiIsDigit(last) && last != ')' && last != '\'')
    return (void)Fail(kBadToken);

  size_t p = 0;
  while (p < n && IsNameCharacter(copy[p])) ++p;
  field_ = copy.substr(0, p);

  // The operator: = < > and the pair IN, in the order met.
  while (p < n && (copy[p] == ' ' || copy[p] == '\t')) ++p;
  std::string op;
  while (p < n) {
    const char c = copy[p];
    if (c == '=' || c == '<' || c == '>') {
      op += c;
      ++p;
    } else if ((c == 'i' || c == 'I') && p + 1 < n && (copy[p + 1] == 'n' || copy[p + 1] == 'N')) {
      op.append(copy, p, 2);
      p += 2;
    } else {
      break;
    }
  }
  const std::string effective = op.size() >= 3 ? std::string() : op;
  if (effective == "=")
    operator_ = kEqual;
  else if (effective == "<>")
    operator_ = kNotEqual;
  else if (effective == ">")
    operator_ = kGreater;
  else if (effective == "<")
    operator_ = kLess;
  else if (effective == ">=")
    operator_ = kGreaterEqual;
  else if (effective == "<=")
    operator_ = kLessEqual;
  else if (platform::AsciiEqualsIgnoreCase(effective, "IN"))
    operator_ = kIn;
  if (operator_ == kNotValid) {
    std::string message = kBadOperator;
    if (message.size() + op.size() < kOperatorShownBelow)
      message += kOperatorLabel + (op.empty() ? std::string(kNoOperator) : op);
    return (void)Fail(message.c_str());
  }

  // The value.
  std::string value;
  int apostrophes = 0;
  bool point = false;
  for (; p < n; ++p) {
    const char c = copy[p];
    if (platform::AsciiIsAlpha(c) || platform::AsciiIsDigit(c) || c == '*' || c == ' ' ||
        c == '.' || c == '-') {
      point = point || c == '.';
      value += c;
    } else if (c == ',') {
      if (operator_ == kIn || apostrophes > 0) value += c;
    } else if (c == '\'') {
      value += c;
      ++apostrophes;
    } else if ((c == '(' && operator_ == kIn) || c == ')') {
      // dropped
    } else {
      return (void)Fail(kBadToken);
    }
  }
  if (apostrophes % 2 != 0) return (void)Fail(kBadToken);
  const bool quoted = apostrophes > 0;
  // A point inside quotes is text, not a decimal.
  decimal_ = point && !quoted;
  value = Trimmed(value);

  if (quoted && operator_ != kIn && value.size() >= 2)
    value = Trimmed(value.substr(1, value.size() - 2));
  if (operator_ == kIn) {
    // The items: texts between pairs of apostrophes, or between commas.
    if (quoted) {
      for (size_t at = value.find('\''); at != std::string::npos;) {
        size_t end = value.find('\'', at + 1);
        items_.push_back(Trimmed(value.substr(at + 1, end - at - 1)));
        at = value.find('\'', end + 1);
      }
    } else {
      for (size_t at = 0;;) {
        size_t comma = value.find(',', at);
        items_.push_back(Trimmed(value.substr(at, comma - at)));
        if (comma == std::string::npos) break;
        at = comma + 1;
      }
    }
    if (!decimal_) {
      std::string list;
      for (const std::string& item : items_) list += "|" + item + "|";
      value = Upper(list);
    }
  }
  value_ = value;

  if (quoted) {
    if (operator_ != kEqual && operator_ != kNotEqual && operator_ != kIn)
      return (void)Fail(kAlphaOperator);
  } else {
    const char* digits = value_.c_str();
    if (operator_ == kIn && !decimal_ && !value_.empty()) ++digits;
    integer_ = CriteriaLeadingInteger(digits);
    double_ = decimal_ ? CriteriaDecimal(value_.c_str()) : double(integer_);
  }

  if (value_.find('*') != std::string::npos) {
    if (operator_ != kEqual) return (void)Fail(kWildCardEquals);
    if (value_.back() != '*') return (void)Fail(kWildCardLast);
    value_.pop_back();
    if (value_.find('*') != std::string::npos) return (void)Fail(kOneWildCard);
    wildCard_ = true;
    if (!quoted) return (void)Fail(kWildCardNumber);
  }
}

bool Criteria::TextEquals(const char* value) const {
  std::string_view text(value);
  if (wildCard_) {
    return text.size() >= value_.size() &&
           platform::AsciiEqualsIgnoreCase(text.substr(0, value_.size()), value_);
  }
  return platform::AsciiEqualsIgnoreCase(text, value_);
}

bool Criteria::InList(const char* value) const {
  return value_.find("|" + Upper(value) + "|") != std::string::npos;
}

bool Criteria::EvaluateNumber(double x) const {
  if (!IsValid() || double_ == -9999.0) return false;
  if (operator_ == kIn) {
    for (const std::string& item : items_)
      if (CriteriaDecimal(item.c_str()) == x) return true;
    return false;
  }
  return Compare(operator_, x, double_);
}

bool Criteria::Evaluate(const char* value, char type) const {
  if (!IsValid() || !value) return false;
  if (type == 'C') {
    switch (operator_) {
      case kEqual:
        return TextEquals(value);
      case kNotEqual:
        return !TextEquals(value);
      case kIn:
        return InList(value);
      default:
        return false;
    }
  }
  if (type != 'N') return false;
  if (decimal_ || std::strchr(value, '.')) return EvaluateNumber(CriteriaDecimal(value));
  if (operator_ == kIn) return InList(value);
  if (integer_ == kNoInteger) return false;
  return Compare(operator_, CriteriaLeadingInteger(value), integer_);
}

bool ValidateCriteria(const char* text, AttributeSearch& search, char* error, size_t size) {
  Criteria criteria(text);
  if (!criteria.IsValid()) {
    StrCopySized(error, criteria.GetErrorText(), size);
    return false;
  }
  const char* name = criteria.GetFieldName();
  if (!search.HasField(name)) {
    std::string message = kBadField;
    if (std::strlen(name) < kNameShownBelow) message += kNameLabel + std::string(name);
    StrCopySized(error, message.c_str(), size);
    return false;
  }
  pipAttributeInfoStruct info;
  search.GetAttributeInfoByName(name, &info);
  if (char(info.type) != criteria.GetValueType()) {
    StrFormat(error, size, "Keyword type ('%c') does not match value type ('%c').", char(info.type),
              criteria.GetValueType());
    return false;
  }
  if (size > 0) error[0] = '\0';
  return true;
}
