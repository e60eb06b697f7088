// The base service's client and processor talking over memory transports with the
// binary protocol: method names and bytes on the wire, results, unknown methods,
// missing results, handler errors, event-handler hooks and the processor factory.
#include "shared-types/WServiceBase.h"

#include <thrift/protocol/TBinaryProtocol.h>
#include <thrift/transport/TBufferTransports.h>
#include <thrift/transport/TVirtualTransport.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using apache::thrift::TApplicationException;
using apache::thrift::TConnectionInfo;
using apache::thrift::TProcessor;
using apache::thrift::TProcessorEventHandler;
using apache::thrift::protocol::T_CALL;
using apache::thrift::protocol::T_EXCEPTION;
using apache::thrift::protocol::T_I32;
using apache::thrift::protocol::T_REPLY;
using apache::thrift::protocol::T_STRING;
using apache::thrift::protocol::TBinaryProtocol;
using apache::thrift::protocol::TMessageType;
using apache::thrift::transport::TMemoryBuffer;
using apache::thrift::transport::TVirtualTransport;
using namespace mopra;

const char* const kMethods[] = {"ping",           "getIfSig",        "getAppInfo",
                                "getAppConnInfo", "getServiceState", "getReqSeq",
                                "getEnqueSeq",    "getDequeSeq"};

std::string toHex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

TConnInfo connInfo(const std::string& address, int32_t port, bool framed) {
  TConnInfo c;
  c.address = address;
  c.port = port;
  c.framed = framed;
  return c;
}

TAppInfo sampleAppInfo() {
  TAppInfo a;
  a.name = "tessi";
  a.desc = "cache";
  a.version.verMajor = 2;
  a.version.verMinor = 7;
  a.version.verBuild = 1234;
  a.version.verRev = -1;
  a.rConnInfo = connInfo("10.0.0.1", 9090, false);
  a.wConnInfo = connInfo("10.0.0.2", 9091, true);
  return a;
}

TAppConnInfo sampleAppConnInfo() {
  TAppConnInfo c;
  c.rConnInfo = {connInfo("r1", 1, false), connInfo("r2", 2, true)};
  c.wConnInfo = {connInfo("w1", 3, true)};
  return c;
}

// Answers every method with fixed values; throws std::runtime_error from the method
// named in `failIn`.
class FakeHandler : public WServiceBaseIf {
 public:
  std::string failIn;
  std::vector<std::string> calls;

  void ping() override { enter("ping"); }
  void getIfSig(std::string& r) override {
    enter("getIfSig");
    r = "sig:WServiceBase/1";
  }
  void getAppInfo(TAppInfo& r) override {
    enter("getAppInfo");
    r = sampleAppInfo();
  }
  void getAppConnInfo(TAppConnInfo& r) override {
    enter("getAppConnInfo");
    r = sampleAppConnInfo();
  }
  TServiceState::type getServiceState() override {
    enter("getServiceState");
    return TServiceState::Running;
  }
  int64_t getReqSeq() override {
    enter("getReqSeq");
    return 0x0102030405060708LL;
  }
  int64_t getEnqueSeq() override {
    enter("getEnqueSeq");
    return -5;
  }
  int64_t getDequeSeq() override {
    enter("getDequeSeq");
    return INT64_MAX;
  }

 private:
  void enter(const char* m) {
    calls.push_back(m);
    if (failIn == m) throw std::runtime_error(std::string("handler failed in ") + m);
  }
};

// Client-side transport: what the client writes is handed to the processor on flush,
// and the client reads the processor's reply.
class Loopback : public TVirtualTransport<Loopback> {
 public:
  explicit Loopback(std::shared_ptr<TProcessor> processor)
      : processor_(std::move(processor)),
        req_(std::make_shared<TMemoryBuffer>()),
        resp_(std::make_shared<TMemoryBuffer>()) {}

  uint32_t read(uint8_t* buf, uint32_t len) { return resp_->read(buf, len); }
  void write(const uint8_t* buf, uint32_t len) { req_->write(buf, len); }
  uint32_t readEnd() override { return resp_->readEnd(); }
  void flush() override {
    lastRequest = req_->getBufferAsString();
    auto in = std::make_shared<TBinaryProtocol>(req_);
    auto out = std::make_shared<TBinaryProtocol>(resp_);
    EXPECT_TRUE(processor_->process(in, out, nullptr));
    EXPECT_EQ(0u, req_->available_read()) << "request not fully consumed";
    lastReply = resp_->getBufferAsString();
  }

  std::string lastRequest;
  std::string lastReply;

 private:
  std::shared_ptr<TProcessor> processor_;
  std::shared_ptr<TMemoryBuffer> req_;
  std::shared_ptr<TMemoryBuffer> resp_;
};

struct WServiceBaseLoopback : ::testing::Test {
  std::shared_ptr<FakeHandler> handler = std::make_shared<FakeHandler>();
  std::shared_ptr<WServiceBaseProcessor> processor = std::make_shared<WServiceBaseProcessor>(
      handler);
  std::shared_ptr<Loopback> wire = std::make_shared<Loopback>(processor);
  WServiceBaseClient client{std::make_shared<TBinaryProtocol>(wire)};
};

// Calls method `m` through the client; returns nothing, the result is checked elsewhere.
void callByName(WServiceBaseClient& c, const std::string& m) {
  std::string s;
  TAppInfo a;
  TAppConnInfo ac;
  // clang-format off
  if (m == "ping") c.ping();
  else if (m == "getIfSig") c.getIfSig(s);
  else if (m == "getAppInfo") c.getAppInfo(a);
  else if (m == "getAppConnInfo") c.getAppConnInfo(ac);
  else if (m == "getServiceState") c.getServiceState();
  else if (m == "getReqSeq") c.getReqSeq();
  else if (m == "getEnqueSeq") c.getEnqueSeq();
  else if (m == "getDequeSeq") c.getDequeSeq();
  else FAIL() << m;
  // clang-format on
}

std::string be32(uint32_t v) {
  std::string s;
  for (int i = 3; i >= 0; --i) s += static_cast<char>((v >> (8 * i)) & 0xff);
  return s;
}

TEST_F(WServiceBaseLoopback, EveryMethodRoundTrips) {
  client.ping();
  std::string sig;
  client.getIfSig(sig);
  EXPECT_EQ("sig:WServiceBase/1", sig);
  TAppInfo app;
  client.getAppInfo(app);
  EXPECT_EQ(sampleAppInfo(), app);
  TAppConnInfo conns;
  client.getAppConnInfo(conns);
  EXPECT_EQ(sampleAppConnInfo(), conns);
  EXPECT_EQ(static_cast<int>(TServiceState::Running), static_cast<int>(client.getServiceState()));
  EXPECT_EQ(0x0102030405060708LL, client.getReqSeq());
  EXPECT_EQ(-5, client.getEnqueSeq());
  EXPECT_EQ(INT64_MAX, client.getDequeSeq());
  EXPECT_EQ(std::vector<std::string>(std::begin(kMethods), std::end(kMethods)), handler->calls);
}

TEST_F(WServiceBaseLoopback, CallsCarryTheMethodNameSequenceZeroAndEmptyArguments) {
  for (const char* m : kMethods) {
    callByName(client, m);
    std::string name(m);
    // Strict binary message header: version 1 | call, name, sequence id 0; then field stop.
    EXPECT_EQ(toHex(std::string("\x80\x01\x00\x01", 4) + be32(name.size()) + name + be32(0) +
                    std::string(1, '\0')),
              toHex(wire->lastRequest))
        << m;
  }
}

TEST_F(WServiceBaseLoopback, ReplyBytes) {
  // clang-format off
  client.getReqSeq();
  EXPECT_EQ("80010002" "00000009" + toHex("getReqSeq") +
                "00000000" "0a0000" "0102030405060708" "00",
            toHex(wire->lastReply));
  client.ping();
  EXPECT_EQ("80010002" "00000004" + toHex("ping") + "00000000" "00", toHex(wire->lastReply));
  client.getServiceState();
  EXPECT_EQ("80010002" "0000000f" + toHex("getServiceState") +
                "00000000" "080000" "00000002" "00",
            toHex(wire->lastReply));
  // clang-format on
}

// Direct processor calls over two memory buffers.
struct WServiceBaseDispatch : ::testing::Test {
  std::shared_ptr<FakeHandler> handler = std::make_shared<FakeHandler>();
  std::shared_ptr<WServiceBaseProcessor> processor = std::make_shared<WServiceBaseProcessor>(
      handler);
  std::shared_ptr<TMemoryBuffer> inBuf = std::make_shared<TMemoryBuffer>();
  std::shared_ptr<TMemoryBuffer> outBuf = std::make_shared<TMemoryBuffer>();
  std::shared_ptr<TBinaryProtocol> in = std::make_shared<TBinaryProtocol>(inBuf);
  std::shared_ptr<TBinaryProtocol> out = std::make_shared<TBinaryProtocol>(outBuf);

  // Writes a call of `name` with an argument struct holding two fields.
  void writeCall(const std::string& name, int32_t seqid) {
    in->writeMessageBegin(name, T_CALL, seqid);
    in->writeStructBegin("args");
    in->writeFieldBegin("a", T_I32, 1);
    in->writeI32(5);
    in->writeFieldEnd();
    in->writeFieldBegin("b", T_STRING, 2);
    in->writeString(std::string("xyz"));
    in->writeFieldEnd();
    in->writeFieldStop();
    in->writeStructEnd();
    in->writeMessageEnd();
  }

  // Reads one exception reply and checks that nothing follows it.
  TApplicationException readExceptionReply(const std::string& name, int32_t seqid) {
    std::string fname;
    TMessageType type;
    int32_t rseqid = -1;
    out->readMessageBegin(fname, type, rseqid);
    EXPECT_EQ(name, fname);
    EXPECT_EQ(T_EXCEPTION, type);
    EXPECT_EQ(seqid, rseqid);
    TApplicationException x;
    x.read(out.get());
    out->readMessageEnd();
    EXPECT_EQ(0u, outBuf->available_read()) << "bytes after the exception reply";
    return x;
  }
};

TEST_F(WServiceBaseDispatch, UnknownMethodIsAnsweredAndItsArgumentsConsumed) {
  writeCall("pingx", 7);
  EXPECT_TRUE(processor->process(in, out, nullptr));
  EXPECT_EQ(0u, inBuf->available_read());
  TApplicationException x = readExceptionReply("pingx", 7);
  EXPECT_EQ(TApplicationException::UNKNOWN_METHOD, x.getType());
  EXPECT_STREQ("Invalid method name: 'pingx'", x.what());
  EXPECT_TRUE(handler->calls.empty());
}

// Records the event-handler hooks with the context they receive.
class Recorder : public TProcessorEventHandler {
 public:
  std::vector<std::string> events;
  int ctxTag = 0;

  void* getContext(const char* fn, void*) override {
    events.push_back(std::string("getContext ") + fn);
    return &ctxTag;
  }
  void freeContext(void* ctx, const char* fn) override { log("freeContext", ctx, fn); }
  void preRead(void* ctx, const char* fn) override { log("preRead", ctx, fn); }
  void postRead(void* ctx, const char* fn, uint32_t bytes) override {
    log("postRead", ctx, fn, bytes);
  }
  void preWrite(void* ctx, const char* fn) override { log("preWrite", ctx, fn); }
  void postWrite(void* ctx, const char* fn, uint32_t bytes) override {
    log("postWrite", ctx, fn, bytes);
  }
  void handlerError(void* ctx, const char* fn) override { log("handlerError", ctx, fn); }

 private:
  void log(const char* hook, void* ctx, const char* fn, int64_t bytes = -1) {
    EXPECT_EQ(&ctxTag, ctx) << hook;
    std::string e = std::string(hook) + " " + fn;
    if (bytes >= 0) e += " " + std::to_string(bytes);
    events.push_back(e);
  }
};

TEST_F(WServiceBaseLoopback, EventHandlerHooksRunInOrderWithTheContextName) {
  auto recorder = std::make_shared<Recorder>();
  processor->setEventHandler(recorder);
  for (const char* m : kMethods) {
    recorder->events.clear();
    callByName(client, m);
    std::string ctx = std::string("WServiceBase.") + m;
    std::vector<std::string> want = {
        "getContext " + ctx,
        "preRead " + ctx,
        "postRead " + ctx + " " + std::to_string(wire->lastRequest.size()),
        "preWrite " + ctx,
        "postWrite " + ctx + " " + std::to_string(wire->lastReply.size()),
        "freeContext " + ctx,
    };
    EXPECT_EQ(want, recorder->events) << m;
  }
}

TEST_F(WServiceBaseDispatch, HandlerErrorBecomesAnExceptionReply) {
  auto recorder = std::make_shared<Recorder>();
  processor->setEventHandler(recorder);
  int32_t seqid = 40;
  for (const char* m : kMethods) {
    handler->failIn = m;
    recorder->events.clear();
    writeCall(m, ++seqid);
    EXPECT_TRUE(processor->process(in, out, nullptr));
    TApplicationException x = readExceptionReply(m, seqid);
    EXPECT_EQ(TApplicationException::UNKNOWN, x.getType()) << m;
    EXPECT_EQ(std::string("handler failed in ") + m, x.what());
    std::string ctx = std::string("WServiceBase.") + m;
    ASSERT_EQ(5u, recorder->events.size()) << m;
    EXPECT_EQ("handlerError " + ctx, recorder->events[3]);
    EXPECT_EQ("freeContext " + ctx, recorder->events[4]);
  }
}

TEST_F(WServiceBaseLoopback, ClientThrowsTheServersException) {
  handler->failIn = "getAppInfo";
  TAppInfo app;
  try {
    client.getAppInfo(app);
    FAIL() << "no exception";
  } catch (const TApplicationException& x) {
    EXPECT_EQ(TApplicationException::UNKNOWN, x.getType());
    EXPECT_STREQ("handler failed in getAppInfo", x.what());
  }
  // The connection stays usable.
  EXPECT_EQ(-5, client.getEnqueSeq());
}

TEST(WServiceBaseClient, EmptyResultIsAMissingResultExceptPing) {
  auto inBuf = std::make_shared<TMemoryBuffer>();
  auto in = std::make_shared<TBinaryProtocol>(inBuf);
  auto out = std::make_shared<TBinaryProtocol>(std::make_shared<TMemoryBuffer>());
  WServiceBaseClient client(in, out);
  for (const char* m : kMethods) {
    in->writeMessageBegin(m, T_REPLY, 0);
    in->writeStructBegin("result");
    in->writeFieldStop();
    in->writeStructEnd();
    in->writeMessageEnd();
    std::string s;
    TAppInfo a;
    TAppConnInfo ac;
    std::string name(m);
    std::function<void()> recv;
    // clang-format off
    if (name == "ping") recv = [&] { client.recv_ping(); };
    else if (name == "getIfSig") recv = [&] { client.recv_getIfSig(s); };
    else if (name == "getAppInfo") recv = [&] { client.recv_getAppInfo(a); };
    else if (name == "getAppConnInfo") recv = [&] { client.recv_getAppConnInfo(ac); };
    else if (name == "getServiceState") recv = [&] { client.recv_getServiceState(); };
    else if (name == "getReqSeq") recv = [&] { client.recv_getReqSeq(); };
    else if (name == "getEnqueSeq") recv = [&] { client.recv_getEnqueSeq(); };
    else recv = [&] { client.recv_getDequeSeq(); };
    // clang-format on
    if (name == "ping") {
      EXPECT_NO_THROW(recv());
    } else {
      try {
        recv();
        ADD_FAILURE() << m << ": no exception";
      } catch (const TApplicationException& x) {
        EXPECT_EQ(TApplicationException::MISSING_RESULT, x.getType()) << m;
        EXPECT_EQ(name + " failed: unknown result", x.what());
      }
    }
    EXPECT_EQ(0u, inBuf->available_read()) << m;
  }
}

// Hands out a new handler per connection and records what comes back.
class FakeFactory : public WServiceBaseIfFactory {
 public:
  std::vector<const TConnectionInfo*> asked;
  std::vector<WServiceBaseIf*> given, released;

  WServiceBaseIf* getHandler(const TConnectionInfo& info) override {
    asked.push_back(&info);
    given.push_back(new FakeHandler);
    return given.back();
  }
  void releaseHandler(WServiceBaseIf* h) override {
    released.push_back(h);
    delete h;
  }
};

TEST(WServiceBaseProcessorFactory, ProcessorOwnsAHandlerReleasedThroughTheFactory) {
  auto factory = std::make_shared<FakeFactory>();
  WServiceBaseProcessorFactory pf(factory);
  TConnectionInfo info;
  std::shared_ptr<TProcessor> p = pf.getProcessor(info);
  ASSERT_NE(nullptr, std::dynamic_pointer_cast<WServiceBaseProcessor>(p));
  ASSERT_EQ(1u, factory->given.size());
  EXPECT_EQ(&info, factory->asked[0]);

  {
    WServiceBaseClient client(std::make_shared<TBinaryProtocol>(std::make_shared<Loopback>(p)));
    EXPECT_EQ(0x0102030405060708LL, client.getReqSeq());
  }
  EXPECT_EQ(std::vector<std::string>{"getReqSeq"},
            static_cast<FakeHandler*>(factory->given[0])->calls);
  EXPECT_TRUE(factory->released.empty());

  p.reset();
  EXPECT_EQ(factory->given, factory->released);
}

}  // namespace
