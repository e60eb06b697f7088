#include "kcext/kcpolydb_ext.h"

#include <kccachedb.h>
#include <kcdirdb.h>
#include <kchashdb.h>
#include <kcplantdb.h>

#include <cstring>
#include <memory>
#include <vector>

#include "kcext/kccompress_lzf.h"
#include "kcext/kccompress_snappy.h"

namespace kyotocabinet {

namespace {

// Tuning read from the text after the path, with the names and aliases of the stock open.
struct Tuning {
  std::string fpath;
  BasicDB::Type type = BasicDB::TYPEVOID;
  int64_t bnum = -1;
  int64_t capcnt = -1;
  int64_t capsiz = -1;
  int32_t apow = -1;
  int32_t fpow = -1;
  bool tsmall = false;
  bool tlinear = false;
  bool tcompress = false;
  int64_t msiz = -1;
  int64_t dfunit = -1;
  std::string zcomp;
  int64_t zthrh = -1;
  int64_t psiz = -1;
  Comparator* rcomp = nullptr;
  int64_t pccap = 0;
};

bool eq(const char* a, const char* b) { return std::strcmp(a, b) == 0; }

BasicDB::Type typeFromExtension(const std::string& fpath) {
  const char* fstr = fpath.c_str();
  const char* pv = std::strrchr(fstr, File::PATHCHR);
  if (pv) fstr = pv + 1;
  if (eq(fstr, "-")) return BasicDB::TYPEPHASH;
  if (eq(fstr, "+")) return BasicDB::TYPEPTREE;
  if (eq(fstr, ":")) return BasicDB::TYPESTASH;
  if (eq(fstr, "*")) return BasicDB::TYPECACHE;
  if (eq(fstr, "%")) return BasicDB::TYPEGRASS;
  pv = std::strrchr(fstr, File::EXTCHR);
  if (!pv) return BasicDB::TYPEVOID;
  pv++;
  if (eq(pv, "kcph") || eq(pv, "phdb")) return BasicDB::TYPEPHASH;
  if (eq(pv, "kcpt") || eq(pv, "ptdb")) return BasicDB::TYPEPTREE;
  if (eq(pv, "kcs") || eq(pv, "sdb")) return BasicDB::TYPESTASH;
  if (eq(pv, "kcc") || eq(pv, "cdb")) return BasicDB::TYPECACHE;
  if (eq(pv, "kcg") || eq(pv, "gdb")) return BasicDB::TYPEGRASS;
  if (eq(pv, "kch") || eq(pv, "hdb")) return BasicDB::TYPEHASH;
  if (eq(pv, "kct") || eq(pv, "tdb")) return BasicDB::TYPETREE;
  if (eq(pv, "kcd") || eq(pv, "ddb")) return BasicDB::TYPEDIR;
  if (eq(pv, "kcf") || eq(pv, "fdb")) return BasicDB::TYPEFOREST;
  if (eq(pv, "kcx") || eq(pv, "xdb") || eq(pv, "txt") || eq(pv, "text") || eq(pv, "tsv") ||
      eq(pv, "csv"))
    return BasicDB::TYPETEXT;
  return BasicDB::TYPEVOID;
}

BasicDB::Type typeFromName(const char* v, BasicDB::Type current) {
  if (eq(v, "-") || eq(v, "kcph") || eq(v, "phdb") || eq(v, "phash")) return BasicDB::TYPEPHASH;
  if (eq(v, "+") || eq(v, "kcpt") || eq(v, "ptdb") || eq(v, "ptree")) return BasicDB::TYPEPTREE;
  if (eq(v, ":") || eq(v, "kcs") || eq(v, "sdb") || eq(v, "stash")) return BasicDB::TYPESTASH;
  if (eq(v, "*") || eq(v, "kcc") || eq(v, "cdb") || eq(v, "cache")) return BasicDB::TYPECACHE;
  if (eq(v, "%") || eq(v, "kcg") || eq(v, "gdb") || eq(v, "grass")) return BasicDB::TYPEGRASS;
  if (eq(v, "kch") || eq(v, "hdb") || eq(v, "hash")) return BasicDB::TYPEHASH;
  if (eq(v, "kct") || eq(v, "tdb") || eq(v, "tree")) return BasicDB::TYPETREE;
  if (eq(v, "kcd") || eq(v, "ddb") || eq(v, "dir") || eq(v, "directory")) return BasicDB::TYPEDIR;
  if (eq(v, "kcf") || eq(v, "fdb") || eq(v, "for") || eq(v, "forest")) return BasicDB::TYPEFOREST;
  if (eq(v, "kcx") || eq(v, "xdb") || eq(v, "txt") || eq(v, "text")) return BasicDB::TYPETEXT;
  return current;
}

Tuning parse(const std::string& path) {
  Tuning t;
  std::vector<std::string> elems;
  strsplit(path, '#', &elems);
  std::vector<std::string>::const_iterator it = elems.begin();
  if (it != elems.end()) {
    t.fpath = *it;
    ++it;
  }
  t.type = typeFromExtension(t.fpath);
  for (; it != elems.end(); ++it) {
    std::vector<std::string> fields;
    if (strsplit(*it, '=', &fields) < 2) continue;
    const char* key = fields[0].c_str();
    const char* value = fields[1].c_str();
    if (eq(key, "type")) {
      t.type = typeFromName(value, t.type);
    } else if (eq(key, "bnum") || eq(key, "buckets")) {
      t.bnum = atoix(value);
    } else if (eq(key, "capcnt") || eq(key, "capcount") || eq(key, "cap_count")) {
      t.capcnt = atoix(value);
    } else if (eq(key, "capsiz") || eq(key, "capsize") || eq(key, "cap_size")) {
      t.capsiz = atoix(value);
    } else if (eq(key, "apow") || eq(key, "alignment")) {
      t.apow = static_cast<int32_t>(atoix(value));
    } else if (eq(key, "fpow") || eq(key, "fbp")) {
      t.fpow = static_cast<int32_t>(atoix(value));
    } else if (eq(key, "opts") || eq(key, "options")) {
      if (std::strchr(value, 's')) t.tsmall = true;
      if (std::strchr(value, 'l')) t.tlinear = true;
      if (std::strchr(value, 'c')) t.tcompress = true;
    } else if (eq(key, "msiz") || eq(key, "map")) {
      t.msiz = atoix(value);
    } else if (eq(key, "dfunit") || eq(key, "defrag")) {
      t.dfunit = atoix(value);
    } else if (eq(key, "zcomp") || eq(key, "compressor")) {
      t.zcomp = value;
    } else if (eq(key, "zthrh") || eq(key, "compressthreshold")) {
      t.zthrh = atoix(value);
    } else if (eq(key, "psiz") || eq(key, "page")) {
      t.psiz = atoix(value);
    } else if (eq(key, "pccap") || eq(key, "cache")) {
      t.pccap = atoix(value);
    } else if (eq(key, "rcomp") || eq(key, "comparator")) {
      if (eq(value, "lex") || eq(value, "lexical")) {
        t.rcomp = LEXICALCOMP;
      } else if (eq(value, "dec") || eq(value, "decimal")) {
        t.rcomp = DECIMALCOMP;
      } else if (eq(value, "lexdesc") || eq(value, "lexicaldesc")) {
        t.rcomp = LEXICALDESCCOMP;
      } else if (eq(value, "decdesc") || eq(value, "decimaldesc")) {
        t.rcomp = DECIMALDESCCOMP;
      }
    }
  }
  return t;
}

// The file/cache databases that take a compressor, built and tuned as the stock open does.
BasicDB* buildDB(const Tuning& t, Compressor* comp) {
  switch (t.type) {
    case BasicDB::TYPECACHE: {
      CacheDB* db = new CacheDB();
      if (t.tcompress) db->tune_options(CacheDB::TCOMPRESS);
      if (t.bnum > 0) db->tune_buckets(t.bnum);
      db->tune_compressor(comp);
      if (t.capcnt > 0) db->cap_count(t.capcnt);
      if (t.capsiz > 0) db->cap_size(t.capsiz);
      return db;
    }
    case BasicDB::TYPEGRASS: {
      GrassDB* db = new GrassDB();
      if (t.tcompress) db->tune_options(GrassDB::TCOMPRESS);
      if (t.bnum > 0) db->tune_buckets(t.bnum);
      if (t.psiz > 0) db->tune_page(static_cast<int32_t>(t.psiz));
      db->tune_compressor(comp);
      if (t.pccap > 0) db->tune_page_cache(t.pccap);
      if (t.rcomp) db->tune_comparator(t.rcomp);
      return db;
    }
    case BasicDB::TYPEHASH: {
      int8_t opts = 0;
      if (t.tsmall) opts |= HashDB::TSMALL;
      if (t.tlinear) opts |= HashDB::TLINEAR;
      if (t.tcompress) opts |= HashDB::TCOMPRESS;
      HashDB* db = new HashDB();
      if (t.apow >= 0) db->tune_alignment(static_cast<int8_t>(t.apow));
      if (t.fpow >= 0) db->tune_fbp(static_cast<int8_t>(t.fpow));
      if (opts > 0) db->tune_options(opts);
      if (t.bnum > 0) db->tune_buckets(t.bnum);
      if (t.msiz >= 0) db->tune_map(t.msiz);
      if (t.dfunit > 0) db->tune_defrag(t.dfunit);
      db->tune_compressor(comp);
      return db;
    }
    case BasicDB::TYPETREE: {
      int8_t opts = 0;
      if (t.tsmall) opts |= TreeDB::TSMALL;
      if (t.tlinear) opts |= TreeDB::TLINEAR;
      if (t.tcompress) opts |= TreeDB::TCOMPRESS;
      TreeDB* db = new TreeDB();
      if (t.apow >= 0) db->tune_alignment(static_cast<int8_t>(t.apow));
      if (t.fpow >= 0) db->tune_fbp(static_cast<int8_t>(t.fpow));
      if (opts > 0) db->tune_options(opts);
      if (t.bnum > 0) db->tune_buckets(t.bnum);
      if (t.psiz > 0) db->tune_page(static_cast<int32_t>(t.psiz));
      if (t.msiz >= 0) db->tune_map(t.msiz);
      if (t.dfunit > 0) db->tune_defrag(t.dfunit);
      db->tune_compressor(comp);
      if (t.pccap > 0) db->tune_page_cache(t.pccap);
      if (t.rcomp) db->tune_comparator(t.rcomp);
      return db;
    }
    case BasicDB::TYPEDIR: {
      DirDB* db = new DirDB();
      if (t.tcompress) db->tune_options(DirDB::TCOMPRESS);
      db->tune_compressor(comp);
      return db;
    }
    case BasicDB::TYPEFOREST: {
      ForestDB* db = new ForestDB();
      if (t.tcompress) db->tune_options(TreeDB::TCOMPRESS);
      if (t.bnum > 0) db->tune_buckets(t.bnum);
      if (t.psiz > 0) db->tune_page(static_cast<int32_t>(t.psiz));
      db->tune_compressor(comp);
      if (t.pccap > 0) db->tune_page_cache(t.pccap);
      if (t.rcomp) db->tune_comparator(t.rcomp);
      return db;
    }
    default: return nullptr;
  }
}

}  // namespace

ExtPolyDB::ExtPolyDB() : PolyDB(), _zcomp(nullptr), _extOpen(false) {}

ExtPolyDB::~ExtPolyDB() {
  // The inner database may still compress while it closes (a tree flushes its pages), so
  // it is closed here, before the compressor goes, and not by the base destructor.
  if (_extOpen) close();
  delete _zcomp;
}

bool ExtPolyDB::open(const std::string& path, uint32_t mode) {
  if (_extOpen) {
    set_error(_KCCODELINE_, Error::INVALID, "already opened");
    return false;
  }
  const Tuning t = parse(path);
  const bool snappy = t.zcomp == "snappy";
  const bool lzf = t.zcomp == "lzf";
  if (!snappy && !lzf) return PolyDB::open(path, mode);

  const size_t threshold = t.zthrh < 0 ? DEFAULT_THRESHOLD : static_cast<size_t>(t.zthrh);
  std::unique_ptr<Compressor> comp;
  if (snappy) {
    comp.reset(new SnappyCompressor(threshold));
  } else {
    comp.reset(new LZFCompressor(threshold));
  }
  std::unique_ptr<BasicDB> db(buildDB(t, comp.get()));
  if (!db) {
    // Prototype, stash and text databases take no compressor: open them as the stock
    // open does, which leaves them without one.
    return PolyDB::open(path, mode);
  }
  if (!set_internal_db(db.get())) return false;  // already open through the stock open
  db.release();                                  // the base owns it now
  if (!PolyDB::open(t.fpath, mode)) {
    const Error err = error();
    PolyDB::close();  // takes the unopened inner database back and deletes it
    set_error(_KCCODELINE_, err.code(), err.message());
    return false;
  }
  delete _zcomp;
  _zcomp = comp.release();
  _extOpen = true;
  return true;
}

bool ExtPolyDB::close() {
  const bool ok = PolyDB::close();
  if (_extOpen) {
    delete _zcomp;
    _zcomp = nullptr;
    _extOpen = false;
  }
  return ok;
}

}  // namespace kyotocabinet
