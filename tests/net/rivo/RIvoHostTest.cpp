// Hosts replicating over loopback. Waits are bounded loops of Sync that stop
// as soon as their condition holds. Raw ENet peers of the test's own send
// exactly the bytes a case needs, hostile ones included. A host that
// listens while another connects runs in a child process, since Connect
// waits for the listener to answer.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "net/rivo/RIvo.h"
#include "net/rivo/RIvoWire.h"
#include "runtime/Limits.h"
#include "tests/support/Thrown.h"
#include "tests/support/WaitFor.h"

namespace {

using namespace vrl;
using namespace vrl::rivo;
using Bytes = std::vector<uint8_t>;

constexpr int32_t kLoopback = 0x7f000001;

// Runs `step` until `done` holds; false when the generous bound is hit.
bool RunUntil(const std::function<void()>& step, const std::function<bool()>& done) {
  return testing_support::WaitFor([&] {
    step();
    return done();
  });
}

// A bare ENet client: sends raw packets and keeps every packet it receives.
class RawPeer {
 public:
  explicit RawPeer(int32_t port) : _host(enet_host_create(nullptr, 1, 1, 0, 0)) {
    ENetAddress address{};
    address.host = htonl(uint32_t(kLoopback));
    address.port = uint16_t(port);
    _peer = enet_host_connect(_host, &address, 1, 0);
  }
  ~RawPeer() { enet_host_destroy(_host); }
  RawPeer(const RawPeer&) = delete;
  RawPeer& operator=(const RawPeer&) = delete;

  void Service() {
    ENetEvent event{};
    while (enet_host_service(_host, &event, 0) > 0) {
      if (event.type == ENET_EVENT_TYPE_CONNECT) connected = true;
      if (event.type == ENET_EVENT_TYPE_DISCONNECT) connected = false;
      if (event.type == ENET_EVENT_TYPE_RECEIVE) {
        received.emplace_back(event.packet->data, event.packet->data + event.packet->dataLength);
        enet_packet_destroy(event.packet);
      }
    }
  }
  void Send(const Bytes& bytes) {
    enet_peer_send(_peer, 0, enet_packet_create(bytes.data(), bytes.size(), ENET_PACKET_FLAG_RELIABLE));
    enet_host_flush(_host);
  }
  // Once everything sent has arrived (a plain disconnect may overtake it).
  void Disconnect() {
    enet_peer_disconnect_later(_peer, 0);
    enet_host_flush(_host);
  }
  // The received messages of one state.
  std::vector<WireMessage> Messages(int32_t state) const {
    std::vector<WireMessage> found;
    for (const Bytes& bytes : received) {
      WireMessage message = DecodeMessage(bytes);
      if (message.state == state) found.push_back(message);
    }
    return found;
  }

  bool connected = false;
  std::vector<Bytes> received;

 private:
  ENetHost* _host;
  ENetPeer* _peer = nullptr;
};

// A message as a peer sends it: header, then the given slot bytes.
Bytes Packet(int32_t state, int32_t id, Bytes slots = {}) {
  slots.insert(slots.begin(), {uint8_t(state << 4 | id >> 8), uint8_t(id & 0xff)});
  return slots;
}

// One Sync; the text of what it threw goes to `errors`.
void SyncKeepingErrors(TGNetHost* host, std::vector<std::string>& errors) {
  try {
    host->Sync();
  } catch (const ThrownObject& e) {
    errors.emplace_back(e.what());
  }
}

// The first remote object of `host` whose string slot `index` is `text`.
TGNetObject* RemoteWithText(TGNetHost* host, int32_t index, String* text) {
  for (TGNetObject* obj : ListOf<TGNetObject>(host->Objects()))
    if (!obj->IsLocal() && obj->GetString(index)->Equals(text)) return obj;
  return nullptr;
}

class RIvoHost : public ::testing::Test {
 protected:
  void SetUp() override {
    rivo::Init();
    ASSERT_EQ(host->Listen(0), 1);
  }
  void TearDown() override { host->Close(); }

  // Syncs the host and services the raw peers until `done`.
  bool Pump(std::vector<RawPeer*> peers, const std::function<bool()>& done) {
    return RunUntil(
        [&] {
          SyncKeepingErrors(host, errors);
          for (RawPeer* peer : peers) peer->Service();
        },
        done);
  }
  bool Connect(RawPeer& peer) {
    return Pump({&peer}, [&] { return peer.connected && host->Peers()->Count() > 0; });
  }

  Ref<TGNetHost> host = TGNetHost::Create();
  std::vector<std::string> errors;
};

TEST_F(RIvoHost, NewPeerReceivesEverySyncedObjectAsCreated) {
  Ref<TGNetObject> synced = host->CreateObject(), changed = host->CreateObject(), gone = host->CreateObject();
  synced->SetInt(0, 11);
  changed->SetString(3, u"abc"_vs);
  gone->SetInt(0, 1);
  host->Sync();
  changed->SetInt(1, 500);  // state 2 when the peer comes
  gone->Close();
  host->Sync();
  Ref<TGNetObject> fresh = host->CreateObject();  // state 1: sent at the next Sync
  fresh->SetInt(2, 3);

  RawPeer peer(host->Port());
  ASSERT_TRUE(Connect(peer));
  ASSERT_TRUE(Pump({&peer}, [&] { return peer.received.size() >= 3; }));
  for (int i = 0; i < 20; ++i) Pump({&peer}, [] { return true; });
  const std::vector<WireMessage> created = peer.Messages(STATE_CREATED);
  ASSERT_EQ(created.size(), 3u);
  EXPECT_EQ(peer.received.size(), 3u);  // nothing twice, nothing of the closed one
  EXPECT_EQ(created[0].id, synced->Id());
  EXPECT_EQ(created[0].slots[0].intValue, 11);
  EXPECT_EQ(created[1].id, changed->Id());
  ASSERT_EQ(created[1].slots.size(), 2u);
  EXPECT_EQ(created[1].slots[0].intValue, 500);
  EXPECT_EQ(created[2].id, fresh->Id());
  EXPECT_TRUE(errors.empty());
}

TEST_F(RIvoHost, RelaysBetweenPeersInTheirOwnIdSpaces) {
  RawPeer a(host->Port()), b(host->Port());
  ASSERT_TRUE(Pump({&a, &b}, [&] { return a.connected && b.connected && host->Peers()->Count() == 2; }));
  Ref<TGNetObject> mine = host->CreateObject();  // takes host id 1
  mine->SetInt(0, 1);
  // a's id 1 becomes host id 2; a half float arrives as a 32-bit float.
  a.Send(Packet(STATE_CREATED, 1, {0x41, 0x3e, 0x00, 0x62, 0, 2, 'h', 'i'}));
  ASSERT_TRUE(Pump({&a, &b}, [&] { return b.Messages(STATE_CREATED).size() == 2; }));
  TGNetObject* copy = host->ObjectById(2);
  ASSERT_TRUE(copy);
  EXPECT_FALSE(copy->IsLocal());
  EXPECT_EQ(copy->GetFloat(1), 1.5f);
  EXPECT_EQ(copy->Slot(1)->Type(), SLOT_FLOAT);
  EXPECT_TRUE(copy->GetString(2)->Equals(u"hi"_vs));
  const WireMessage relayed = b.Messages(STATE_CREATED)[1];
  EXPECT_EQ(relayed.id, 2);
  EXPECT_EQ(relayed.slots[0].type, SLOT_HALF);         // relayed as it came
  EXPECT_TRUE(a.Messages(STATE_CREATED).size() == 1);  // a hears only the host's own object

  // b messages a's object by the host's id; a gets it by its own id.
  b.Send(Packet(STATE_MESSAGE, 2, {0x83, 42}));
  // a messages the host's object.
  a.Send(Packet(STATE_MESSAGE, 1, {0x62, 0, 1, 'm'}));
  Ref<TGNetObject> note;  // the host's messages last one Sync
  ASSERT_TRUE(Pump({&a, &b}, [&] {
    if (!host->Messages()->IsEmpty()) note = CastRaw<TGNetObject>(host->Messages()->First());
    return !a.Messages(STATE_MESSAGE).empty() && note;
  }));
  EXPECT_EQ(a.Messages(STATE_MESSAGE)[0].id, 1);
  EXPECT_EQ(a.Messages(STATE_MESSAGE)[0].slots[0].intValue, 42);
  EXPECT_EQ(note->Id(), mine->Id());
  EXPECT_TRUE(note->GetString(2)->Equals(u"m"_vs));
  EXPECT_TRUE(b.Messages(STATE_MESSAGE).empty());

  // The host's own messages go out translated the same way.
  Ref<TGNetObject> msg = host->CreateMessage();
  msg->SetInt(4, 9);
  host->SendRIvoMessage(msg, copy);
  ASSERT_TRUE(Pump({&a, &b}, [&] { return a.Messages(STATE_MESSAGE).size() == 2; }));
  EXPECT_EQ(a.Messages(STATE_MESSAGE)[1].id, 1);
  EXPECT_EQ(a.Messages(STATE_MESSAGE)[1].slots[0].intValue, 9);

  a.Send(Packet(STATE_MODIFIED, 1, {0x80, 7}));
  ASSERT_TRUE(Pump({&a, &b}, [&] { return !b.Messages(STATE_MODIFIED).empty(); }));
  EXPECT_EQ(copy->GetInt(0), 7);
  a.Send(Packet(STATE_CLOSED, 1));
  ASSERT_TRUE(Pump({&a, &b}, [&] { return !b.Messages(STATE_CLOSED).empty(); }));
  EXPECT_EQ(b.Messages(STATE_CLOSED)[0].id, 2);
  EXPECT_TRUE(errors.empty());
}

TEST_F(RIvoHost, HostilePacketsAreRefusedAndOthersStillServed) {
  RawPeer good(host->Port()), bad(host->Port());
  ASSERT_TRUE(
      Pump({&good, &bad}, [&] { return good.connected && bad.connected && host->Peers()->Count() == 2; }));
  good.Send(Packet(STATE_CREATED, 1, {0x80, 1}));
  ASSERT_TRUE(Pump({&good, &bad}, [&] { return host->ObjectById(1); }));
  TGNetObject* goods = host->ObjectById(1);

  const struct {
    Bytes packet;
    const char* error;
  } cases[] = {
      {{0x10}, "Corrupt RIvo message"},                                           // no whole header
      {Packet(STATE_CREATED, 5, {0x80, 1, 0x20, 1, 2}), "Corrupt RIvo message"},  // integer cut short
      {Packet(STATE_CREATED, 5, {0xe0, 1}), "Invalid RIvo data type"},
      {Packet(STATE_CREATED, 5, {0x00}), "Invalid RIvo data type"},
      {Packet(STATE_MODIFIED, 0, {0x80, 1}), "Corrupt RIvo message"},  // no object 0
      {Packet(4, 1), "Corrupt RIvo message"},                          // a state that never travels
      {Packet(STATE_CREATED, 5, {0x60, 0, 100, 'a', 'b', 'c'}), "Corrupt RIvo message"},  // long string
  };
  int32_t round = 0;
  for (const auto& c : cases) {
    bad.Send(c.packet);
    // Another peer's change after the bad packet still goes through.
    good.Send(Packet(STATE_MODIFIED, 1, {0x80, uint8_t(++round)}));
    ASSERT_TRUE(Pump({&good, &bad}, [&] { return !errors.empty() && goods->GetInt(0) == round; }));
    EXPECT_EQ(errors, std::vector<std::string>{c.error});
    errors.clear();
  }
  EXPECT_EQ(host->Objects()->Count(), 1);
  EXPECT_TRUE(good.Messages(STATE_CREATED).empty());  // nothing corrupt was relayed

  // Well-formed but foreign: bad changes and closes good's id 1, and makes its
  // own id 5 twice. The foreign ones are dropped without a word.
  bad.Send(Packet(STATE_MODIFIED, 1, {0x80, 99}));
  bad.Send(Packet(STATE_CLOSED, 1));
  bad.Send(Packet(STATE_CREATED, 5, {0x80, 50}));
  bad.Send(Packet(STATE_CREATED, 5, {0x80, 51}));
  bad.Send(Packet(STATE_MESSAGE, 77, {0x80, 1}));  // to an object that is not there
  ASSERT_TRUE(Pump({&good, &bad}, [&] { return host->Objects()->Count() == 2; }));
  for (int i = 0; i < 20; ++i) Pump({&good, &bad}, [] { return true; });
  EXPECT_EQ(host->Objects()->Count(), 2);
  EXPECT_EQ(goods->GetInt(0), round);
  EXPECT_EQ(goods->State(), STATE_SYNCED);
  EXPECT_EQ(host->ObjectById(2)->GetInt(0), 50);
  ASSERT_EQ(good.Messages(STATE_CREATED).size(), 1u);
  EXPECT_TRUE(good.Messages(STATE_MODIFIED).empty());
  EXPECT_TRUE(good.Messages(STATE_CLOSED).empty());
  EXPECT_TRUE(errors.empty());
}

TEST_F(RIvoHost, PacketsAboveTheLargestMessageAreRefusedByENet) {
  RawPeer good(host->Port()), bad(host->Port());
  ASSERT_TRUE(
      Pump({&good, &bad}, [&] { return good.connected && bad.connected && host->Peers()->Count() == 2; }));
  // A creation with one string slot, `length` bytes long: 2 header bytes,
  // then type, two length bytes and the text.
  auto withString = [](int32_t id, int32_t length) {
    Bytes slots = {0x60, uint8_t(length >> 8), uint8_t(length & 0xff)};
    slots.resize(slots.size() + std::size_t(length), 'x');
    return Packet(STATE_CREATED, id, slots);
  };
  const int32_t fits = limits::kRivoPacketBytes - 5;
  ASSERT_EQ(withString(1, fits).size(), std::size_t(limits::kRivoPacketBytes));

  // One byte more: ENet drops it before it allocates for it, so the host
  // never sees it (no object, no error), and goes on serving the others.
  bad.Send(withString(7, fits + 1));
  good.Send(withString(1, fits));
  ASSERT_TRUE(Pump({&good, &bad}, [&] { return host->ObjectById(1); }));
  EXPECT_EQ(host->ObjectById(1)->GetString(0)->Length(), fits);
  good.Send(Packet(STATE_MODIFIED, 1, {0x80, 5}));
  ASSERT_TRUE(Pump({&good, &bad}, [&] { return host->ObjectById(1)->GetInt(0) == 5; }));
  EXPECT_EQ(host->Objects()->Count(), 1);
  EXPECT_TRUE(errors.empty());
}

TEST_F(RIvoHost, DisconnectClosesThePeersObjectsOnce) {
  RawPeer owner(host->Port()), watcher(host->Port());
  ASSERT_TRUE(Pump({&owner, &watcher},
                   [&] { return owner.connected && watcher.connected && host->Peers()->Count() == 2; }));
  owner.Send(Packet(STATE_CREATED, 1, {0x80, 1}));
  owner.Send(Packet(STATE_CREATED, 2, {0x80, 2}));
  owner.Send(Packet(STATE_CLOSED, 2));
  owner.Disconnect();
  // The host collects everything up to the disconnect before it handles
  // any of it, so that the close of 2 and the disconnect meet in one Sync.
  ASSERT_TRUE(RunUntil(
      [&] {
        host->UpdateENetEvents();
        owner.Service();
      },
      [&] { return !owner.connected; }));
  std::vector<int32_t> closed;
  ASSERT_TRUE(Pump({&watcher}, [&] {
    for (TGNetObject* obj : ListOf<TGNetObject>(host->ObjectsClosed())) closed.push_back(obj->Id());
    return host->Peers()->Count() == 1 && watcher.Messages(STATE_CLOSED).size() >= 2;
  }));
  for (int i = 0; i < 20; ++i) Pump({&watcher}, [] { return true; });
  EXPECT_EQ(closed, (std::vector<int32_t>{2, 1}));
  ASSERT_EQ(watcher.Messages(STATE_CLOSED).size(), 2u);
  EXPECT_EQ(watcher.Messages(STATE_CLOSED)[0].id, 2);
  EXPECT_EQ(watcher.Messages(STATE_CLOSED)[1].id, 1);
  EXPECT_EQ(host->Objects()->Count(), 0);  // gone at the next Sync, ids free
  EXPECT_EQ(host->CreateObject()->Id(), 1);
  EXPECT_TRUE(errors.empty());
}

TEST_F(RIvoHost, NewcomerLearnsOfACreationRelayedInTheSameSync) {
  RawPeer maker(host->Port());
  ASSERT_TRUE(Connect(maker));
  RawPeer late(host->Port());
  // The host only collects events while the late peer's handshake runs, and
  // the creation goes out before the handshake's last step: the creation
  // and the connection wait together, in that order, for the next Sync.
  late.Service();
  host->UpdateENetEvents();
  maker.Send(Packet(STATE_CREATED, 3, {0x80, 8}));
  ASSERT_TRUE(RunUntil(
      [&] {
        host->UpdateENetEvents();
        late.Service();
      },
      [&] { return late.connected; }));
  ASSERT_TRUE(Pump({&maker, &late}, [&] { return !late.Messages(STATE_CREATED).empty(); }));
  for (int i = 0; i < 20; ++i) Pump({&maker, &late}, [] { return true; });
  ASSERT_EQ(late.Messages(STATE_CREATED).size(), 1u);
  EXPECT_EQ(late.Messages(STATE_CREATED)[0].slots[0].intValue, 8);
  EXPECT_TRUE(errors.empty());
}

TEST_F(RIvoHost, RemovedRemoteObjectsFreeTheirIdAndMapping) {
  RawPeer peer(host->Port());
  ASSERT_TRUE(Connect(peer));
  peer.Send(Packet(STATE_CREATED, 7, {0x80, 1}));
  peer.Send(Packet(STATE_CREATED, 8, {0x80, 1}));
  ASSERT_TRUE(Pump({&peer}, [&] { return host->Objects()->Count() == 2; }));
  Ref<TGNetObject> first = host->ObjectById(1), second = host->ObjectById(2);
  first->Close();  // closed here only: the peer still has it
  peer.Send(Packet(STATE_CLOSED, 8));
  Ref<TGNetObject> msg = host->CreateMessage();
  msg->SetInt(0, 1);
  // Closed by its owner, the copy has no id at the peer any more: a message
  // to it is not sent.
  ASSERT_TRUE(Pump({&peer}, [&] { return second->State() == STATE_CLOSED; }));
  ASSERT_FALSE(second->IsLocal());
  host->SendRIvoMessage(msg, second);
  ASSERT_TRUE(Pump({&peer}, [&] { return host->Objects()->Count() == 0; }));
  // The peer's ids 7 and 8 name nothing now: a change is dropped, and a new
  // creation takes the freed host ids.
  peer.Send(Packet(STATE_MODIFIED, 7, {0x80, 5}));
  peer.Send(Packet(STATE_CREATED, 9, {0x80, 6}));
  ASSERT_TRUE(Pump({&peer}, [&] { return host->Objects()->Count() == 1; }));
  EXPECT_EQ(host->ObjectById(1)->GetInt(0), 6);
  EXPECT_EQ(first->GetInt(0), 1);
  host->SendRIvoMessage(msg, host->ObjectById(1));
  ASSERT_TRUE(Pump({&peer}, [&] { return !peer.Messages(STATE_MESSAGE).empty(); }));
  ASSERT_EQ(peer.Messages(STATE_MESSAGE).size(), 1u);
  EXPECT_EQ(peer.Messages(STATE_MESSAGE)[0].id, 9);
  EXPECT_TRUE(errors.empty());
}

TEST_F(RIvoHost, ConnectGivesUpAfterItsTimeout) {
  // A socket that never answers.
  const int silent = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(uint32_t(kLoopback));
  ASSERT_EQ(bind(silent, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  socklen_t length = sizeof address;
  getsockname(silent, reinterpret_cast<sockaddr*>(&address), &length);
  Ref<TGNetHost> client = TGNetHost::Create();
  EXPECT_EQ(client->Connect(kLoopback, ntohs(address.sin_port), 50), 0);
  EXPECT_EQ(client->Port(), 0);  // no ENet host is left behind
  close(silent);
}

// ---------------------------------------------------------------------------
// Three hosts: a relay in a child process, two clients here.

class RelayProcess {
 public:
  RelayProcess() {
    int control[2], report[2];
    if (pipe(control) != 0 || pipe(report) != 0) return;
    _pid = fork();
    if (_pid == 0) {
      close(control[1]);
      close(report[0]);
      _exit(Run(control[0], report[1]));
    }
    close(control[0]);
    close(report[1]);
    _control = control[1];
    pollfd ready{report[0], POLLIN, 0};
    char line[32] = {};
    if (poll(&ready, 1, 30000) == 1 && read(report[0], line, sizeof line - 1) > 0) port = std::atoi(line);
    close(report[0]);
  }
  ~RelayProcess() { Stop(); }
  // Stops the relay; its exit status: 0 when every Sync went without error.
  int Stop() {
    if (_pid <= 0) return -1;
    close(_control);  // the relay stops when the pipe closes
    int status = 0;
    waitpid(_pid, &status, 0);
    _pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  RelayProcess(const RelayProcess&) = delete;
  RelayProcess& operator=(const RelayProcess&) = delete;

  int32_t port = 0;

 private:
  static int Run(int control, int report) {
    Ref<TGNetHost> relay = TGNetHost::Create();
    if (!relay->Listen(0)) return 1;
    int failed = 0;
    dprintf(report, "%d\n", relay->Port());
    close(report);
    for (int round = 0; round < 120000; ++round) {
      try {
        relay->Sync();
      } catch (const ThrownObject&) {
        failed = 2;
      }
      pollfd stop{control, POLLIN, 0};
      if (poll(&stop, 1, 1) != 0) break;
    }
    relay->Close();
    return failed;
  }

  pid_t _pid = -1;
  int _control = -1;
};

TEST(RIvoRelay, ThreeHostsReplicateCreationsChangesMessagesAndCloses) {
  rivo::Init();
  RelayProcess relay;
  ASSERT_NE(relay.port, 0);
  Ref<TGNetHost> a = TGNetHost::Create(), b = TGNetHost::Create();
  ASSERT_EQ(a->Connect(kLoopback, relay.port, 20000), 1);
  ASSERT_EQ(GNetConnect(b, u"127.0.0.1"_vs, relay.port, 20000), 1);
  std::vector<Ref<TGNetObject>> createdAtB, modifiedAtB, closedAtA, closedAtB;
  auto keep = [](TList* list, std::vector<Ref<TGNetObject>>& into) {
    for (TGNetObject* obj : ListOf<TGNetObject>(list)) into.emplace_back(obj);
  };
  auto both = [&] {
    a->Sync();
    b->Sync();
    keep(b->ObjectsCreated(), createdAtB);
    keep(b->ObjectsModified(), modifiedAtB);
    keep(a->ObjectsClosed(), closedAtA);
    keep(b->ObjectsClosed(), closedAtB);
  };

  Ref<TGNetObject> oa = a->CreateObject();
  oa->SetInt(0, 7);
  oa->SetInt(1, 300);
  oa->SetInt(2, 70000);
  oa->SetInt(3, -5);
  oa->SetFloat(4, 1.25f);
  oa->SetString(5, u"snow"_vs);
  Ref<TGNetObject> ob = b->CreateObject();
  ob->SetString(0, u"b"_vs);
  ASSERT_TRUE(
      RunUntil(both, [&] { return RemoteWithText(b, 5, u"snow"_vs) && RemoteWithText(a, 0, u"b"_vs); }));
  Ref<TGNetObject> oaAtB = RemoteWithText(b, 5, u"snow"_vs), obAtA = RemoteWithText(a, 0, u"b"_vs);
  ASSERT_EQ(createdAtB.size(), 1u);
  EXPECT_EQ(createdAtB[0].get(), oaAtB.get());
  EXPECT_EQ(oaAtB->GetInt(0), 7);
  EXPECT_EQ(oaAtB->GetInt(1), 300);
  EXPECT_EQ(oaAtB->GetInt(2), 70000);
  EXPECT_EQ(oaAtB->GetInt(3), -5);
  EXPECT_EQ(oaAtB->GetFloat(4), 1.25f);
  EXPECT_EQ(GNetObjectLocal(oaAtB), 0);

  oa->SetInt(1, 301);
  oa->SetFloat(4, -2.5f);
  oa->SetString(5, u"flake"_vs);
  ASSERT_TRUE(RunUntil(both, [&] { return oaAtB->GetString(5)->Equals(u"flake"_vs); }));
  EXPECT_EQ(oaAtB->GetInt(1), 301);
  EXPECT_EQ(oaAtB->GetFloat(4), -2.5f);
  EXPECT_EQ(oaAtB->GetInt(2), 70000);
  ASSERT_FALSE(modifiedAtB.empty());
  EXPECT_EQ(modifiedAtB.back().get(), oaAtB.get());

  // Messages both ways, each through two translations of the id.
  Ref<TGNetObject> toA = CreateGNetMessage(b);
  SetGNetString(toA, 0, u"hello"_vs);
  SendGNetMessage(toA, oaAtB);
  Ref<TGNetObject> toB = a->CreateMessage();
  toB->SetInt(1, 12);
  a->SendRIvoMessage(toB, obAtA);
  Ref<TGNetObject> gotA, gotB;
  ASSERT_TRUE(RunUntil(
      [&] {
        both();
        if (!a->Messages()->IsEmpty()) gotA = CastRaw<TGNetObject>(a->Messages()->First());
        if (!GNetMessages(b)->IsEmpty()) gotB = CastRaw<TGNetObject>(GNetMessages(b)->First());
      },
      [&] { return gotA && gotB; }));
  EXPECT_EQ(gotA->Id(), oa->Id());
  EXPECT_TRUE(gotA->GetString(0)->Equals(u"hello"_vs));
  EXPECT_EQ(gotB->Id(), ob->Id());
  EXPECT_EQ(gotB->GetInt(1), 12);

  oa->Close();
  ASSERT_TRUE(RunUntil(both, [&] { return !closedAtB.empty(); }));
  EXPECT_EQ(closedAtB[0].get(), oaAtB.get());
  EXPECT_EQ(oaAtB->State(), STATE_CLOSED);
  ASSERT_TRUE(RunUntil(both, [&] { return b->Objects()->Count() == 1 && a->Objects()->Count() == 1; }));

  // b leaves: the relay closes b's objects at a.
  Ref<TGNetObject> ob2 = b->CreateObject();
  ob2->SetString(0, u"b2"_vs);
  ASSERT_TRUE(RunUntil(both, [&] { return RemoteWithText(a, 0, u"b2"_vs); }));
  b->Close();
  ASSERT_TRUE(RunUntil(both, [&] { return closedAtA.size() == 2; }));
  EXPECT_EQ(obAtA->State(), STATE_CLOSED);
  ASSERT_TRUE(RunUntil(both, [&] { return a->Objects()->IsEmpty(); }));
  a->Close();
  EXPECT_EQ(relay.Stop(), 0);
}

}  // namespace
