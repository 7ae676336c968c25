// Filter criteria: one condition on one attribute field, written as text and
// parsed once, such as
//   POP > 10,000            a number (commas outside quotes dropped)
//   NAME = 'Ash*'           a text, with one trailing wild card
//   CODE IN ('A', 'B C')    a list, compared ignoring case
//   RATE <= 1.5             a decimal
// The field name is the leading run of letters, digits and '_'; operators
// are = <> > < >= <= and IN (any case). Quoted values take =, <> and IN.
//
// Parsing never throws: a text that fails leaves the criterion not valid
// with one message in its error text (the last written). A criterion whose
// number is -9999 (or -9999.0) never matches a number. Numbers are read the
// same whatever the host's locale. A decimal criterion compares the
// attribute's decimal value, so X = 1.5 does not match 1.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class AttributeSearch;

class Criteria {
 public:
  enum Operator : uint32_t {
    kEqual = 0,
    kNotEqual = 1,
    kGreater = 2,
    kLess = 3,
    kGreaterEqual = 4,
    kLessEqual = 5,
    kIn = 6,
    kNotValid = 7,
  };
  static constexpr int32_t kNoInteger = -9999;
  static constexpr size_t kErrorTextSize = 80;

  explicit Criteria(const char* text);
  virtual ~Criteria() = default;

  bool IsValid() const { return operator_ != kNotValid; }
  const char* GetFieldName() const { return field_.c_str(); }
  const char* GetErrorText() const { return error_; }
  // 'N' for a number criterion, 'C' for a text.
  char GetValueType() const { return integer_ == kNoInteger ? 'C' : 'N'; }

  // Whether an attribute value (its text, its field's type 'C' or 'N')
  // passes.
  bool Evaluate(const char* value, char type) const;
  // Whether the number x passes.
  bool EvaluateNumber(double x) const;

  uint32_t GetOperator() const { return operator_; }
  const std::string& GetValueText() const { return value_; }
  int32_t GetIntegerValue() const { return integer_; }
  double GetDoubleValue() const { return double_; }
  bool HasWildCard() const { return wildCard_; }

 private:
  void Parse(const char* text);
  bool Fail(const char* text);
  bool TextEquals(const char* value) const;
  bool InList(const char* value) const;

  char error_[kErrorTextSize + 1] = {};
  std::string field_;
  std::string value_;
  std::vector<std::string> items_;  // the items of an IN list, as written
  int32_t integer_ = kNoInteger;
  double double_ = -9999.0;
  bool wildCard_ = false;
  bool decimal_ = false;
  uint32_t operator_ = kNotValid;
};

// Parses text and checks it against the attribute file: the field must
// exist and its type must match the criterion's. False with the reason in
// error (at most size - 1 characters; 80 suffice).
bool ValidateCriteria(const char* text, AttributeSearch& search, char* error, size_t size);

// The leading integer and the decimal value of a text, as the criteria read
// them (blanks, a sign, digits; 0 when there are none).
int32_t CriteriaLeadingInteger(const char* text);
double CriteriaDecimal(const char* text);
