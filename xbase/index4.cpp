// Opening an index file keeps the file open and exclusive with its data file;
// reading its tags and moving in key order are the index layer's.
#include "xbase/index4.h"

#include <cstring>

#include "platform/env.h"
#include "xbase/code4.h"
#include "xbase/data4.h"
#include "xbase/error4.h"
#include "xbase/file4.h"
#include "xbase/list4.h"
#include "xbase/mem4.h"
#include "xbase/util4.h"

INDEX4FILE* index4open(DATA4* data, const char* name, INDEX4* index) {
  CODE4* c4 = data->codeBase;
  DATA4FILE* dfile = data->dataFile;
  char full[1024];
  if (name == nullptr) {
    char buffer[1024];
    u4ncpy(buffer, dfile->fullName, sizeof buffer);
    if (u4nameExt(buffer, sizeof buffer, code4indexExtension(c4), 1) != 0) return nullptr;
    u4ncpy(full, buffer, sizeof full);
  } else {
    char buffer[1024];
    u4ncpy(buffer, name, sizeof buffer);
    if (u4nameExt(buffer, sizeof buffer, code4indexExtension(c4), 0) != 0) return nullptr;
    if (u4nameCurrent(full, sizeof full, buffer) != 0) {
      error4(c4, e4parm, 90347);
      return nullptr;
    }
  }
  platform::FileInfo info;
  if (platform::Env::Current().PathStat(full, &info) == 0) {
    for (auto* open = static_cast<INDEX4FILE*>(l4first(&dfile->indexes)); open;
         open = static_cast<INDEX4FILE*>(l4next(&dfile->indexes, open))) {
      if (open->file.device != info.device || open->file.inode != info.inode) continue;
      for (auto* mine = static_cast<INDEX4*>(l4first(&data->indexes)); mine;
           mine = static_cast<INDEX4*>(l4next(&data->indexes, mine))) {
        if (mine->indexFile == open) {
          error4describe(c4, e4instance, E4_INDEX4OPEN, full, nullptr, nullptr);
          return nullptr;
        }
      }
      open->userCount++;
      return open;
    }
  }
  (void)index;
  auto* file = static_cast<INDEX4FILE*>(u4allocEr(c4, sizeof(INDEX4FILE)));
  if (file == nullptr) return nullptr;
  if (file4open(&file->file, c4, full, 1) != 0) {
    u4free(file);
    return nullptr;
  }
  file->dataFile = dfile;
  file->blockSize = 512;
  file->multiplier = 1;
  file->userCount = 1;
  file->isValid = 1;
  l4add(&dfile->indexes, file);
  return file;
}

INDEX4* i4open(DATA4* data, const char* name) {
  if (data == nullptr) {
    error4(nullptr, e4parmNull, E4_I4OPEN);
    return nullptr;
  }
  CODE4* c4 = data->codeBase;
  if (c4->errorCode < 0) return nullptr;
  auto* index = static_cast<INDEX4*>(u4allocEr(c4, sizeof(INDEX4)));
  if (index == nullptr) return nullptr;
  index->data = data;
  index->codeBase = c4;
  index->indexFile = index4open(data, name, index);
  if (index->indexFile == nullptr) {
    u4free(index);
    return nullptr;
  }
  u4ncpy(index->accessName, name ? name : data->alias, sizeof index->accessName);
  l4add(&data->indexes, index);
  index->isValid = 1;
  return index;
}

int index4close(INDEX4FILE* file) {
  if (file == nullptr) return error4(nullptr, e4parmNull, E4_INDEX4CLOSE);
  if (--file->userCount > 0) return 0;
  int rc = file4close(&file->file);
  if (file->dataFile) l4remove(&file->dataFile->indexes, file);
  u4free(file);
  return rc;
}

int i4close(INDEX4* index) {
  if (index == nullptr) return error4(nullptr, e4parmNull, E4_I4CLOSE);
  DATA4* data = index->data;
  int rc = 0;
  if (data) {
    if (data->tagSelected && data->tagSelected->index == index) data->tagSelected = nullptr;
    l4remove(&data->indexes, index);
  }
  while (auto* tag = static_cast<TAG4*>(l4pop(&index->tags))) u4free(tag);
  if (index->indexFile) rc = index4close(index->indexFile);
  u4free(index);
  return rc;
}

TAG4* i4tag(INDEX4* index, const char* name) {
  if (index == nullptr || name == nullptr) {
    error4(index ? index->codeBase : nullptr, e4parmNull, E4_I4TAG);
    return nullptr;
  }
  char wanted[11];
  u4ncpy(wanted, name, sizeof wanted);
  for (char& c : wanted) c = platform::AsciiUpper(c);
  for (auto* tag = static_cast<TAG4*>(l4first(&index->tags)); tag;
       tag = static_cast<TAG4*>(l4next(&index->tags, tag))) {
    if (tag->tagFile && std::strcmp(tag->tagFile->alias, wanted) == 0) return tag;
  }
  if (index->codeBase->tagNameError) {
    error4describe(index->codeBase, e4tagName, E4_I4TAG, name, nullptr, nullptr);
  }
  return nullptr;
}

const char* i4fileName(INDEX4* index) {
  if (index == nullptr) {
    error4(nullptr, e4parmNull, E4_I4FILE_NAME);
    return nullptr;
  }
  return index->indexFile->file.name;
}

const char* t4alias(TAG4* tag) {
  if (tag == nullptr || tag->tagFile == nullptr) {
    error4(nullptr, e4parmNull, E4_T4ALIAS);
    return nullptr;
  }
  return tag->tagFile->alias;
}

int t4unique(TAG4* tag) {
  if (tag == nullptr) return error4(nullptr, e4parmNull, E4_T4UNIQUE);
  if (tag->tagFile == nullptr) return error4(nullptr, e4parm, E4_T4UNIQUE);
  return (tag->tagFile->typeCode & 0x05) ? tag->errUnique : 0;
}

INDEX4* d4index(DATA4* data, const char* name) {
  if (data == nullptr) return nullptr;
  for (auto* index = static_cast<INDEX4*>(l4first(&data->indexes)); index;
       index = static_cast<INDEX4*>(l4next(&data->indexes, index))) {
    if (name == nullptr) {
      if (index->indexFile && index->indexFile->dataFile &&
          index->indexFile == l4first(&index->indexFile->dataFile->indexes)) {
        return index;
      }
    } else if (platform::AsciiEqualsIgnoreCase(index->accessName, name)) {
      return index;
    }
  }
  return nullptr;
}

int d4openProductionIndex(DATA4* data) {
  CODE4* c4 = data->codeBase;
  DATA4FILE* file = data->dataFile;
  if (!(file->tableFlags & 0x01) || !c4->autoOpen) return 0;
  int singleOpen = c4->singleOpen;
  c4->singleOpen = 3;
  INDEX4* index = i4open(data, nullptr);
  c4->singleOpen = singleOpen;
  if (index != nullptr) {
    file->hasProduction = 1;
    return 0;
  }
  if (!c4->reportOpenFailure) {
    c4->errorCode = r4noOpen;
    return 0;
  }
  if (c4->errorCode >= 0) return error4(c4, e4open, E4_D4OPEN);
  return c4->errorCode;
}

// Moves in key order need the index layer.
int d4topTag(DATA4* data, TAG4*) { return error4(data->codeBase, e4notSupported, E4_D4TOP); }
int d4bottomTag(DATA4* data, TAG4*) { return error4(data->codeBase, e4notSupported, E4_D4BOTTOM); }
int d4skipTag(DATA4* data, TAG4*, long) { return error4(data->codeBase, e4notSupported, E4_D4SKIP); }

// Key maintenance, creation and rebuild need the index layer. No tag is ever
// open before it, so the write paths do not reach the key functions.
int t4keyCalc(TAG4* tag, unsigned char*, int*) {
  return error4(tag->index->codeBase, e4notSupported, E4_D4WRITE_KEYS);
}
int t4addKey(TAG4* tag, const unsigned char*, long) {
  return error4(tag->index->codeBase, e4notSupported, E4_D4WRITE_KEYS);
}
int t4removeKey(TAG4* tag, const unsigned char*, long) {
  return error4(tag->index->codeBase, e4notSupported, E4_D4WRITE_KEYS);
}

INDEX4* i4create(DATA4* data, const char*, const TAG4INFO* tags) {
  if (data == nullptr || tags == nullptr) {
    error4(data ? data->codeBase : nullptr, e4parmNull, E4_I4CREATE);
    return nullptr;
  }
  error4(data->codeBase, e4notSupported, E4_I4CREATE);
  return nullptr;
}

int i4reindex(INDEX4* index) {
  if (code4verify(index, 0, E4_I4REINDEX)) return -1;
  if (l4numNodes(&index->tags) == 0) return 0;
  return error4(index->codeBase, e4notSupported, E4_I4REINDEX);
}

TAG4INFO* i4tagInfo(INDEX4* index) {
  if (index == nullptr) {
    error4(nullptr, e4parmNull, E4_I4TAG_INFO);
    return nullptr;
  }
  if (l4numNodes(&index->tags) != 0) {
    error4(index->codeBase, e4notSupported, E4_I4TAG_INFO);
    return nullptr;
  }
  return static_cast<TAG4INFO*>(u4allocEr(index->codeBase, sizeof(TAG4INFO)));
}
