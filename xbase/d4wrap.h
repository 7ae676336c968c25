// The thin object layer over the engine's functions: the context object, the
// string base with its field view, the date value, the field- and
// tag-definition lists and the tag view. Each member maps to one engine
// function.
#pragma once

#include <cstdint>

#include "xbase/d4data.h"

class Code4 : public CODE4 {
 public:
  Code4();
  explicit Code4(int doInit);
  ~Code4();
  Code4(const Code4&) = delete;
  Code4& operator=(const Code4&) = delete;
  // Undoes an earlier init, then initialises the context.
  int init();
  int initUndo();
  int closeAll();
  int errorSet(int code = 0);
  int errorCode() const { return CODE4::errorCode; }
  uint16_t initialisedFlag = 0;
};

class Data4 {
 public:
  Data4() = default;
  explicit Data4(DATA4* d) : data(d) {}
  Data4(Code4& code, const char* name);
  int isValid() const { return data != nullptr; }
  int close();
  int numFields() const;
  DATA4* data = nullptr;
};

class Str4 {
 public:
  virtual ~Str4();
  virtual operator long();
  virtual void changed() {}
  virtual int decimals() { return 0; }
  virtual int isRaw() { return 0; }
  virtual unsigned long len();
  virtual unsigned long len() const { return const_cast<Str4*>(this)->len(); }
  virtual unsigned long maximum() { return len(); }
  virtual char* ptr() = 0;
  virtual const char* ptr() const { return const_cast<Str4*>(this)->ptr(); }
  // A NUL-terminated copy of up to 256 characters of the value.
  virtual const char* str();
  virtual int setLen(unsigned) { return -1; }
  virtual int setMax(unsigned) { return -1; }

  int assign(const char* text, unsigned length);
  int assign(const char* text);
  int assignDouble(double value, int length = -1, int decimals = -1);
  int assignLong(long value, int length = -1, int zeroFill = 0);
  unsigned ncpy(char* buffer, unsigned size);
  void set(int character);

 protected:
  // The context errors are reported on (none for a plain string).
  virtual CODE4* codeBase() { return nullptr; }
  char* strBuffer();
  char* buffer_ = nullptr;  // 257 bytes, made on first use
};

class Field4 : public Str4 {
 public:
  Field4() = default;
  explicit Field4(FIELD4* f);
  Field4(Data4& d, int j);
  Field4(Data4& d, const char* name);
  void init(FIELD4* f);
  int isValid() const { return field != nullptr; }

  operator long() override;
  void changed() override;
  int decimals() override;
  int isRaw() override;
  unsigned long len() override;
  char* ptr() override;
  const char* str() override;
  int type() const;
  const char* name() const;
  double toDouble();

  DATA4* data = nullptr;
  FIELD4* field = nullptr;

 protected:
  CODE4* codeBase() override;
};

class Date4 : public Str4 {
 public:
  Date4();
  explicit Date4(long julian);
  explicit Date4(const char* ccyymmdd);
  Date4(const char* text, const char* picture);
  ~Date4() override;
  unsigned long len() override { return 8; }
  char* ptr() override { return dt_; }
  // The date under a picture, in the object's buffer; null for a null picture.
  const char* format(const char* picture);
  long julian() const;

 private:
  char dt_[9];
  char* formatBuffer_ = nullptr;
};

class Field4info {
 public:
  explicit Field4info(Code4& code);
  explicit Field4info(Data4 data);
  ~Field4info();
  Field4info(const Field4info&) = delete;
  Field4info& operator=(const Field4info&) = delete;
  int add(const char* name, char type, int length = 0, int decimals = 0, int nulls = 0);
  FIELD4INFO* operator[](int index);
  void free();
  int numFields() const { return size_; }
  FIELD4INFO* fields() { return fields_; }

 private:
  CODE4* codeBase_ = nullptr;
  FIELD4INFO* fields_ = nullptr;
  int size_ = 0;
  unsigned length_ = 0;  // bytes allocated
};

// A list of tag definitions for d4create and index creation; the array ends
// with a zeroed entry. Names are cut at their first blank and to 10
// characters and upper-cased; every text is the list's own copy.
class Tag4info {
 public:
  explicit Tag4info(Code4& code);
  // Every tag of every index open on the data handle.
  explicit Tag4info(Data4 data);
  ~Tag4info();
  Tag4info(const Tag4info&) = delete;
  Tag4info& operator=(const Tag4info&) = delete;
  // 0 or -1.
  int add(const char* name, const char* expression, const char* filter = nullptr, short unique = 0,
          unsigned short descending = 0);
  int add_index_tags(INDEX4* index);
  void free();
  int numTags() const { return size_; }
  TAG4INFO* tags() { return tags_; }

 private:
  void freeEntry(TAG4INFO* entry);
  CODE4* codeBase_ = nullptr;
  TAG4INFO* tags_ = nullptr;
  int size_ = 0;
  unsigned length_ = 0;  // bytes allocated
};

class Tag4 {
 public:
  Tag4() = default;
  Tag4(Data4 data, const char* name = nullptr) { init(data, name); }
  // The named tag; without a name the selected tag, else the first tag.
  int init(Data4 data, const char* name = nullptr);
  int isValid() const { return tag != nullptr; }
  const char* alias() const;
  TAG4* tag = nullptr;
};

enum : long {
  E4_TAG4_INIT = 60216,
  E4_TAG4INFO_ADD = 60224,
  E4_TAG4INFO_CTOR = 60226,
  E4_TAG4INFO_ADD_INDEX_TAGS = 60227,
};
