// The structures of the xBase engine: the context (CODE4), open data files
// (DATA4FILE) and their handles (DATA4), fields, the file layer's FILE4, the
// rings and pools under everything, and the index, memo, transaction and
// cache state that the later layers fill in.
//
// The engine is procedural: every structure here is plain data, cleared with
// zero bytes and handed out by the engine's own pools; every function takes
// the structure it works on as its first argument. Result codes: 0 success,
// small positive codes for outcomes that are no error (r4...), negative codes
// for errors (e4..., texts in error4.cpp). While a context's errorCode is
// negative almost every operation returns at once.
#pragma once

#include <cstddef>
#include <cstdint>

// ---- result codes that are no error ----
enum : int {
  r4success = 0,
  r4after = 2,
  r4eof = 3,
  r4bof = 4,
  r4entry = 5,
  r4delay = 7,
  r4unique = 20,
  r4uniqueContinue = 25,
  r4noCreate = 60,
  r4noOpen = 70,
  r4noTag = 80,
  r4done = 210,
};

// ---- error codes (texts in error4.cpp) ----
enum : int {
  e4close = -10,
  e4create = -20,
  e4len = -30,
  e4lenSet = -40,
  e4lock = -50,
  e4open = -60,
  e4permiss = -61,
  e4access = -62,
  e4numFiles = -63,
  e4fileFind = -64,
  e4instance = -69,
  e4read = -70,
  e4remove = -80,
  e4rename = -90,
  e4seek = -250,
  e4unlock = -110,
  e4write = -120,
  e4data = -200,
  e4fieldName = -210,
  e4fieldType = -220,
  e4recordLen = -230,
  e4append = -240,
  e4entry = -300,
  e4index = -310,
  e4tagName = -330,
  e4unique = -340,
  e4tagInfo = -350,
  e4candidate = -360,
  e4commaExpected = -400,
  e4complete = -410,
  e4dataName = -420,
  e4lengthErr = -422,
  e4notConstant = -425,
  e4numParms = -430,
  e4overflow = -440,
  e4rightMissing = -450,
  e4typeSub = -460,
  e4unrecFunction = -470,
  e4unrecOperator = -480,
  e4unrecValue = -490,
  e4unterminated = -500,
  e4tagExpr = -510,
  e4opt = -610,
  e4optSuspend = -620,
  e4optFlush = -630,
  e4relate = -710,
  e4lookupErr = -720,
  e4relateRefer = -730,
  e4info = -910,
  e4memory = -920,
  e4parm = -930,
  e4parmNull = -935,
  e4result = -950,
  e4verify = -960,
  e4struct = -970,
  e4notIndex = -1010,
  e4notMemo = -1020,
  e4notRename = -1030,
  e4notWrite = -1040,
  e4notSupported = -1090,
  e4version = -1095,
  e4memoCorrupt = -1110,
  e4memoCreate = -1120,
  e4transViolation = -1200,
  e4trans = -1210,
  e4rollback = -1220,
  e4commit = -1230,
  e4transAppend = -1240,
  e4transStatus = -1250,
};

// The stamp of every valid context, data handle and field.
constexpr int32_t k4validStamp = 21121;
// code4initLow's version and structure-size checks.
constexpr long k4version = 6502;
constexpr long k4structSize = 1611;
// The index format code that code4indexFormat answers (compound index).
constexpr int k4indexFormat = 200;
// Dialects (the context's compatibility setting).
constexpr short k4dialectDbase3 = 25;
constexpr short k4dialectDbase4 = 26;
constexpr short k4dialectFox = 30;

struct CODE4;
struct DATA4;
struct DATA4FILE;
struct FIELD4;
struct INDEX4;
struct INDEX4FILE;
struct TAG4;
struct TFILE4;
struct EXPR4;    // compiled expression (expression layer)
struct RELATE4;  // relation set (relation layer)
struct SORT4;    // sort with spool files (sort layer)
struct BLOCK4;   // an index block in memory (index layer)
struct B4CACHE;  // the decoded blocks an index file keeps (index layer)
struct OPT4;     // block cache (cache layer)
struct TRAN4;    // the log and the transaction (transaction layer)

// ---- rings ----
// Every list of the engine is a ring of elements that begin with a LINK4.
struct LINK4 {
  LINK4* n;
  LINK4* p;
};

struct LIST4 {
  LINK4* lastNode;  // its n is the first element
  LINK4* selected;
  unsigned numLinks;
};

// ---- fixed-size unit pools (process-wide, shared by equal unit sizes) ----
struct MEM4 {
  LINK4 link;
  LIST4 chunks;
  LIST4 pieces;  // free units
  int unitStart;
  unsigned unitSize;
  int unitExpand;
  int nRepeat;  // users; -1 for a temporary pool
  int nUsed;
};

// ---- bit arrays of the query layer ----
struct FLAG4 {
  CODE4* codeBase;
  unsigned char* flags;
  unsigned long numFlags;
  unsigned char isFlip;
};

// ---- the file layer ----
struct FILE4 {
  LINK4 link;  // in the cache's list of buffered files
  uint8_t ownsName;
  uint8_t removeOnClose;
  int handle;  // descriptor; -1 when closed
  uint32_t writeProtected;
  char* nameCopy;
  const char* name;
  CODE4* codeBase;
  uint8_t largeFile;  // a position or length beyond 4 GB was used
  uint8_t onDisk;
  uint8_t writeCacheWanted;
  uint32_t hashOffset;
  uint32_t cachedLenLow;
  uint32_t cachedLenHigh;  // all bits set: unknown
  uint8_t cacheClass;      // 0 none, 1 data, 2 index, 3 other
  uint8_t writeBehind;
  uint32_t cached;
  int32_t readHint;
  double blockWeight;
  void* owner;
  void* lock;  // the worker threads' lock of this handle, when they run
  LIST4 delayedWrites;
  uint32_t readAheadUsed;
  LIST4 readAheads;
  unsigned char* aheadBuffer;
  uint32_t aheadState;  // 1 empty, 2 read pending, 3 loaded
  uint32_t aheadPos;
  uint32_t aheadLen;
  // Identity of the open file: open files are told apart by device and inode.
  uint64_t device;
  uint64_t inode;
};

struct FILE4SEQ_READ {
  FILE4* file;
  uint64_t pos;
  char* buffer;
  unsigned nextReadLen;  // size of one refill
  unsigned total;        // bytes in the buffer
  unsigned working;      // bytes of the buffer already delivered
  unsigned avail;        // bytes left to deliver
  // Double-buffer mode of the read-ahead thread.
  int doDouble;
  char* buffer2;
  int buffer2status;
  unsigned buffer2len;
};

struct FILE4SEQ_WRITE {
  FILE4* file;
  uint64_t pos;
  char* buffer;
  unsigned total;    // size of one half
  unsigned working;  // bytes free in the current half
  unsigned avail;    // bytes filled in the current half
  // Two halves used alternately while the delayed-write thread writes one.
  char* buffer2;
  unsigned buffer2len;
  int buffer2free;
  int buffer1free;
};

// ---- memo files (memo layer) ----
struct MEMO4FILE {
  FILE4 file;
  int16_t blockSize;
  DATA4FILE* data;
};

// One memo field's contents in a data handle.
struct F4MEMO {
  uint32_t dirty;     // assigned and not yet written
  uint32_t mustRead;  // the contents must be read before use
  char* text;         // followed by two zero bytes
  uint32_t size;
  uint32_t capacity;  // 0: nothing allocated
  FIELD4* field;
};

// ---- fields ----
struct FIELD4 {
  char name[11];
  uint16_t type;  // the stored letter, upper case
  uint16_t len;
  uint16_t dec;
  uint32_t offset;  // in the record; 0 is the deletion flag
  DATA4* data;
  uint8_t null;  // nullable
  uint16_t nullBit;  // byte index of its flag in the null-flags field
  uint8_t nullMask;
  uint8_t binary;  // 1 raw (no code-page translation), 2 memo/general of a FoxPro file
  uint8_t autoIncrement;
  int32_t stamp;
  F4MEMO* memo;  // the memo entry of a memo field
};

// ---- indexes (index layer) ----
struct INDEX4 {
  LINK4 link;  // in the data handle's list
  LIST4 tags;  // TAG4
  DATA4* data;
  CODE4* codeBase;
  char accessName[251];
  INDEX4FILE* indexFile;
  int isValid;
};

struct INDEX4FILE {
  LINK4 link;  // in the data file's list
  FILE4 file;
  int userCount;
  TFILE4* tagIndex;  // the tag directory
  LIST4 tags;        // TFILE4, in directory order
  uint32_t eof;
  uint32_t versionOld;
  uint32_t versionRead;
  uint16_t blockSize;
  uint16_t multiplier;
  MEM4* blockMemory;
  DATA4FILE* dataFile;
  int isValid;
  // The index layer's own state: decoded blocks kept by position, and
  // whether the file header (root, free list, version) must be written.
  B4CACHE* cache;
  int headerChanged;
  uint32_t freeWritten;  // the free-list head last written
};

struct TAG4 {
  LINK4 link;
  INDEX4* index;
  TFILE4* tagFile;
  int16_t errUnique;
  int added;    // the write path's marks: the new key was added,
  int removed;  // the old key removed,
  int held;     // the old key's removal held back until the commit,
  int kept;     // the new key was there already, its held removal dropped
};

struct TFILE4 {
  LINK4 link;
  CODE4* codeBase;
  INDEX4FILE* indexFile;
  char alias[11];
  EXPR4* expr;
  EXPR4* filter;
  LIST4 blocks;
  LIST4 saved;
  // header fields of the tag
  uint32_t root;
  uint32_t freeList;
  uint32_t version;
  int16_t keyLen;
  uint8_t typeCode;
  uint8_t signature;
  uint16_t descending;
  uint32_t headerOffset;
  int rootWrite;
  int collateName;  // collation number: 0 none, 1 machine order, 2-4 tables (collate4.h)
  unsigned char* keyBuffer;
  uint8_t keyWide;  // the key expression yields wide text ('W' or 'O')
  // The rest of the header and the index layer's state of the tag.
  char collation[9];  // the header's 8-byte collation name and a zero byte
  uint16_t filterPos, filterLen, exprPos, exprLen;
  unsigned char pad;  // the byte trailing counts stand for: blank or zero
  int filterMarked;   // the first add since the open marked the header
  int (*textToKey)(TFILE4* tag, unsigned char* key, const char* text, int length);
  int (*numberToKey)(TFILE4* tag, unsigned char* key, double value);
  // The cursor: the blocks from the root down to the current leaf, each on
  // the entry the descent took. Only the leaf is held after a move along the
  // leaf level (pathLeafOnly).
  BLOCK4* path[40];
  int depth;
  int pathLeafOnly;
  // Removals a transaction holds back until its commit (tfile4.h): each
  // entry a record number (u32) and a key of keyLen bytes.
  unsigned char* pending;
  int pendingN;
  int pendingMax;
};

// ---- data files ----
struct DATA4FILE {
  LINK4 link;  // in the context's list of open data files
  CODE4* c4;
  char* fullName;
  int userCount;
  uint32_t recWidth;
  uint32_t headerLen;
  int nFields;      // descriptors, the null-flags field included
  int nFieldsMemo;
  unsigned char* info;  // the descriptor image
  unsigned infoLen;
  long numRecs;   // the stored record count; -1 until read
  long minCount;  // the live record count; -1 until known
  unsigned char version;
  short compatibility;
  unsigned char codePage;
  unsigned char tableFlags;
  unsigned char yymmdd[3];
  int fileChanged;  // the header needs its update
  int readOnly;
  int hasProduction;  // the production index is open
  int canAutoIncrement;
  long maxRecs;
  double autoIncrementVal;
  FIELD4* autoIncrementField;
  int removeOnClose;
  FILE4 file;
  MEMO4FILE memoFile;
  LIST4 indexes;  // INDEX4FILE
  // The record that tag expressions read: the record buffer of the handle
  // whose keys are being built (expr4context sets it).
  char* keyRecord;
  // How the file is being read, for the block cache: -1 while skipping in
  // record order, 1 while positioning through a tag, 0 otherwise.
  int accessHint;
};

struct DATA4 {
  LINK4 link;  // in the context's list of open handles
  int32_t stamp;
  CODE4* codeBase;
  DATA4FILE* dataFile;
  char alias[33];
  long recNum;     // -1 none, 0 during append
  long recNumOld;  // the record held in recordOld; -1 none
  char* record;
  char* recordOld;
  char* recordBlank;
  int nFields;  // entries of fields, the null-flags field included
  FIELD4* fields;
  FIELD4* nullFlags;
  int nFieldsMemo;
  F4MEMO* fieldsMemo;
  int recordChanged;
  int bofFlag;
  int eofFlag;
  TAG4* tagSelected;
  LIST4 indexes;  // INDEX4
  int readOnly;
  long serverId;
  int logged;  // its open was logged
};

// ---- definitions for creating data files and tags ----
// Lists end with an entry whose name is null.
struct FIELD4INFO {
  char* name;
  uint16_t type;
  uint16_t len;
  uint16_t dec;
  uint16_t nulls;  // 190 nullable, 195 autoincrement
};

struct TAG4INFO {
  char* name;
  char* expression;
  char* filter;
  int16_t unique;
  uint16_t descending;
};

// ---- the context ----
// The settings are fields of the context, set to their defaults by
// code4initLow. Several layers read them; the callers of the table library
// set some of them directly.
struct CODE4 {
  int32_t stamp;  // k4validStamp while initialised

  // -- error state --
  int errorCode;
  int errorLocation;
  // Called instead of the message box when set.
  void (*errorCallback)(CODE4*, int code, long location, const char*, const char*, const char*);
  FILE4* errorLog;  // entries are appended when set
  // The last report in one line (code text, location text, extra texts),
  // kept when the report itself is not shown: callers tell users why.
  char errorText[256];

  // -- switches and sizes --
  int autoOpen;             // d4open opens the production index
  int reportOpenFailure;    // 0: a failed open gives 70 quietly
  int reportCreateFailure;  // 0: a failed create gives 60 quietly
  int fieldNameError;
  int offError;  // errors only record their code
  int tagNameError;
  int goError;
  int skipError;
  int exprError;
  int singleOpen;  // a second open of an open file is refused (-69)
  int readOnly;
  int logOpen;  // open the transaction log with the first open or create
  short compatibility;
  unsigned char recCountCheck;  // 1 or 2: the header's count must match the file length
  unsigned char doubleField;    // 'B' fields in dBASE files
  int removeOnClose;            // set by d4remove around its close
  int createTemp;               // d4create with no name makes a temporary table
  int createNewOnly;            // a create fails when the file exists
  int writeThrough;
  int tempAutoRemove;
  char dateFormat[20];
  void* hWnd;
  long memSizeBuffer;
  long memSizeSortPool;
  long memSizeSortBuffer;
  long memStartMax;
  long memSizeBlock;      // memo block size
  long memSizeMemo;
  long memSizeMemoExpr;
  int memStartData, memExpandData;
  int memStartDataFile, memExpandDataFile;
  int memStartIndex, memExpandIndex;
  int memStartIndexFile, memExpandIndexFile;
  int memStartTag, memExpandTag;
  int memStartBlock, memExpandBlock;
  long indexBlockSize;   // block size and multiplier of new index files
  long indexMultiplier;
  short errDefaultUnique;  // unique mode of new unique tags
  unsigned short collateMatching;
  int collatingSequence;      // collation of character keys
  int collatingSequenceWide;  // collation of wide keys
  int codePage;
  int parentCheck;
  int readAheadIndex;
  int reindexInProgress;
  int deferredCount;  // the stored count follows the live count only at update
  // The block cache's wishes.
  long cacheBlockSize;
  long cacheBufferSize;
  int memoryPercent;
  int optimizeDefault;
  int optimizeWriteDefault;
  // Settings the table library sets and clears; the engine keeps them for it.
  unsigned char accessMode;  // exclusive use of opened files (all files are exclusive here)
  int exclusive;             // its companion word
  unsigned char lockEnforce;
  int readLock, lockDelay, fileFlush, safety, optimize, optimizeWrite, unlockAuto;
  int lockAttempts;       // -1 after init
  int lockAttemptsSingle; // -1 after init

  // -- what the context owns --
  LIST4 dataList;      // DATA4 open
  LIST4 dataFileList;  // DATA4FILE open
  LIST4 closedDataList;  // DATA4 closed inside a transaction
  MEM4* dataMemory;
  MEM4* dataFileMemory;
  MEM4* indexMemory;
  MEM4* indexFileMemory;
  MEM4* tagMemory;
  MEM4* tagFileMemory;
  long serverIdCount;
  char indexExtension[4];
  char memoExtension[4];
  unsigned long largeFileLimit;
  char workBuffer[257];  // f4currency, f4dateTime and friends answer in it
  int makingTempReal;

  // -- the transaction layer --
  FILE4 logFile;
  int logFileOpen;
  int logNeedsFlush;  // log entries written since the log was last flushed
  int transStatus;  // 0 or 110 idle, 115 partially committed, 120 active, 130 rolling back, -2 off
  long transId;
  char userName[11];
  TRAN4* tran;  // the rest of the log's state, made with the log

  // -- the block cache and the worker threads --
  OPT4* opt;
  void* delayWriteThread;
  void* readAheadThread;
  int threadsAllowed;

  // -- the expression layer --
  char* storedKey;  // every key built by expr4key
  unsigned storedKeyLen;
  LIST4 calcList;  // EXPR4CALC

  int initialised;
  int didAlloc;  // the engine allocated the structure; code4initUndo frees it
};
