// Objects, slots and ids of one host, without a network.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "net/rivo/RIvo.h"
#include "net/rivo/RIvoWire.h"
#include "tests/support/Thrown.h"

namespace {

using namespace vrl;
using namespace vrl::rivo;

class RIvoObject : public ::testing::Test {
 protected:
  void SetUp() override { rivo::Init(); }
  Ref<TGNetHost> host = TGNetHost::Create();
};

std::vector<uint8_t> BytesOf(Array* array) {
  const auto* p = static_cast<const uint8_t*>(array->Data());
  return {p, p + array->DataSize()};
}

TEST_F(RIvoObject, SetIntPicksTheSmallestType) {
  Ref<TGNetObject> obj = host->CreateObject();
  const struct {
    int32_t value, type, packed;
  } cases[] = {{0, SLOT_BYTE, 2},      {255, SLOT_BYTE, 2},  {256, SLOT_SHORT, 3},
               {65535, SLOT_SHORT, 3}, {65536, SLOT_INT, 5}, {-1, SLOT_INT, 5}};
  for (const auto& c : cases) {
    obj->SetInt(7, c.value);
    EXPECT_EQ(obj->Slot(7)->Type(), c.type) << c.value;
    EXPECT_EQ(obj->PackSlots(1 << 7)->Length(), c.packed) << c.value;
    EXPECT_EQ(obj->GetInt(7), c.value);
  }
  obj->SetString(2, u"abc"_vs);
  EXPECT_EQ(BytesOf(obj->PackSlots(1 << 2)), (std::vector<uint8_t>{0x62, 0, 3, 'a', 'b', 'c'}));
  obj->SetFloat(3, -1.5f);
  EXPECT_EQ(obj->Slot(3)->Type(), SLOT_FLOAT);
  EXPECT_EQ(obj->PackSlots(0)->Length(), 0);
  EXPECT_TRUE(Throws<TArrayBoundsException>([&] { obj->SetInt(32, 1); }));
  EXPECT_TRUE(Throws<TArrayBoundsException>([&] { obj->GetInt(-1); }));
}

TEST_F(RIvoObject, PackedSlotsStopAt65520Bytes) {
  Ref<TGNetObject> obj = host->CreateObject();
  obj->SetString(0, String::FromNarrow(std::string(65517, 'x')));
  EXPECT_EQ(obj->PackSlots(-1)->Length(), 65520);
  obj->SetInt(1, 1);
  EXPECT_TRUE(ThrowsObject([&] { obj->PackSlots(-1); }, "RIvo message data too large"));
  // A Sync that cannot pack leaves the object to try again.
  EXPECT_TRUE(ThrowsObject([&] { host->Sync(); }, "RIvo message data too large"));
  EXPECT_EQ(obj->State(), STATE_CREATED);
  EXPECT_EQ(obj->Modified(), 3);
}

TEST_F(RIvoObject, StatesFollowWritesSyncsAndCloses) {
  Ref<TGNetObject> obj = host->CreateObject();
  obj->SetInt(0, 1);
  obj->SetString(5, u"x"_vs);
  Ref<TGNetMsg> created = obj->Sync();
  ASSERT_TRUE(created);
  EXPECT_EQ(created->state, STATE_CREATED);
  EXPECT_EQ(created->id, obj->Id());
  EXPECT_EQ(BytesOf(created->data), (std::vector<uint8_t>{0x80, 1, 0x65, 0, 1, 'x'}));
  EXPECT_EQ(obj->State(), STATE_SYNCED);
  EXPECT_FALSE(obj->Sync());

  obj->SetInt(5, 300);  // only the slot written since goes out
  EXPECT_EQ(obj->State(), STATE_MODIFIED);
  EXPECT_EQ(obj->Modified(), 1 << 5);
  Ref<TGNetMsg> modified = obj->Sync();
  EXPECT_EQ(modified->state, STATE_MODIFIED);
  EXPECT_EQ(BytesOf(modified->data), (std::vector<uint8_t>{0xa5, 0x01, 0x2c}));
  EXPECT_EQ(BytesOf(obj->CreatedMsg()->data), (std::vector<uint8_t>{0x80, 1, 0xa5, 0x01, 0x2c}));
  EXPECT_EQ(obj->ClosedMsg()->data->Length(), 0);

  obj->Close();
  EXPECT_EQ(obj->State(), STATE_CLOSED);
  obj->Close();
  EXPECT_EQ(obj->State(), STATE_CLOSED);
  EXPECT_EQ(obj->Sync()->state, STATE_CLOSED);
  EXPECT_EQ(obj->State(), STATE_GONE);
  EXPECT_TRUE(ThrownText([&] { obj->Close(); }) == "Illegal object state");
  EXPECT_TRUE(ThrowsObject([&] { host->CreateMessage()->Close(); }, "Illegal object state"));

  // Created and closed before any sync: never sent.
  Ref<TGNetObject> brief = host->CreateObject();
  brief->Close();
  EXPECT_EQ(brief->State(), STATE_GONE);
  EXPECT_FALSE(brief->Sync());
}

TEST_F(RIvoObject, UpdateAppliesAWholeMessageOrNothing) {
  Ref<TGNetObject> obj = host->CreateObject();
  obj->SetInt(0, 5);
  obj->Sync();
  const uint8_t bad[] = {0x80, 9, 0x20, 1, 2};  // slot 0 = 9, then an integer cut short
  Ref<Array> data = Array::New("b", sizeof bad);
  std::copy(std::begin(bad), std::end(bad), static_cast<uint8_t*>(data->Data()));
  Ref<TGNetMsg> msg = TGNetMsg::Create(obj->Id(), STATE_MODIFIED, data);
  EXPECT_TRUE(ThrowsObject([&] { obj->Update(msg); }, "Corrupt RIvo message"));
  EXPECT_EQ(obj->GetInt(0), 5);
  EXPECT_EQ(obj->State(), STATE_SYNCED);

  const uint8_t good[] = {0x80, 9, 0x41, 0x3c, 0x00, 0x62, 0, 2, 'o', 'k'};
  data = Array::New("b", sizeof good);
  std::copy(std::begin(good), std::end(good), static_cast<uint8_t*>(data->Data()));
  msg = TGNetMsg::Create(obj->Id(), STATE_MODIFIED, data);
  obj->Update(msg);
  EXPECT_EQ(obj->GetInt(0), 9);
  EXPECT_EQ(obj->GetFloat(1), 1.0f);
  EXPECT_EQ(obj->Slot(1)->Type(), SLOT_FLOAT);  // applied through the setters
  EXPECT_TRUE(obj->GetString(2)->Equals(u"ok"_vs));
  EXPECT_EQ(obj->State(), STATE_MODIFIED);
}

TEST_F(RIvoObject, IdsAreTheLowestFreeAndRunOutAt4095) {
  Ref<TGNetObject> a = host->CreateObject(), b = host->CreateObject(), c = host->CreateObject();
  EXPECT_EQ(a->Id(), 1);
  EXPECT_EQ(c->Id(), 3);
  b->Close();
  host->Sync();  // b leaves and frees id 2
  EXPECT_EQ(host->Objects()->Count(), 2);
  EXPECT_EQ(host->CreateObject()->Id(), 2);
  while (host->Objects()->Count() < kMaxId) host->CreateObject();
  EXPECT_EQ(host->ObjectById(kMaxId)->Id(), kMaxId);
  EXPECT_TRUE(ThrowsObject([&] { host->CreateObject(); }, "Out of RIvo object IDs"));
  EXPECT_TRUE(ThrowsObject([&] { host->AllocId(); }, "Out of RIvo object IDs"));
}

TEST_F(RIvoObject, UnmappingAnOldOwnerLeavesTheNewOneMapped) {
  Ref<TGNetObject> old = TGNetObject::Create(9, STATE_CLOSED, host, nullptr);
  host->MapObject(old);
  host->UnmapObject(old);
  Ref<TGNetObject> owner = TGNetObject::Create(9, STATE_CREATED, host, nullptr);
  host->MapObject(owner);
  host->UnmapObject(old);
  EXPECT_EQ(host->ObjectById(9), owner.get());
  host->UnmapObject(owner);
  EXPECT_EQ(host->ObjectById(9), nullptr);

  Ref<TGNetPeer> peer = TGNetPeer::Create(nullptr);
  peer->MapLocalId(4, 70);
  EXPECT_EQ(peer->RemoteId(4), 70);
  EXPECT_EQ(peer->LocalId(70), 4);
  peer->MapLocalId(5, 70);  // the peer's id 70 now means host id 5
  peer->UnmapLocalId(4);
  EXPECT_EQ(peer->LocalId(70), 5);
  EXPECT_EQ(peer->RemoteId(4), 0);
  EXPECT_TRUE(ThrowsObject([&] { peer->MapLocalId(0, 1); }, "RIvo error"));
  EXPECT_TRUE(
      ThrowsObject([&] { peer->SendMsg(TGNetMsg::Create(5, STATE_MODIFIED, nullptr)); }, "ENet errror"));
  // A message to a target that the peer has no id for is not sent at all.
  EXPECT_EQ(peer->SendMsg(TGNetMsg::Create(6, STATE_MESSAGE, nullptr)), 0);
}

TEST_F(RIvoObject, ModuleFunctionsSelectListsByKind) {
  EXPECT_EQ(GNetObjects(host, 0).get(), host->Objects().get());
  EXPECT_EQ(GNetObjects(host, 1).get(), host->ObjectsCreated().get());
  EXPECT_EQ(GNetObjects(host, 2).get(), host->ObjectsModified().get());
  EXPECT_EQ(GNetObjects(host, 3).get(), host->ObjectsClosed().get());
  EXPECT_TRUE(ThrowsObject([&] { GNetObjects(host, 4); }, "Unknown object state"));
  EXPECT_TRUE(ThrowsObject([&] { GNetObjects(host, -1); }, "Unknown object state"));
  Ref<TGNetObject> obj = CreateGNetObject(host);
  SetGNetString(obj, 1, u"tree"_vs);
  SetGNetFloat(obj, 2, 0.5f);
  SetGNetInt(obj, 3, 77);
  SetGNetTarget(obj, host);
  EXPECT_TRUE(GetGNetString(obj, 1)->Equals(u"tree"_vs));
  EXPECT_EQ(GetGNetFloat(obj, 2), 0.5f);
  EXPECT_EQ(GetGNetInt(obj, 3), 77);
  EXPECT_EQ(GetGNetTarget(obj), host.get());
  EXPECT_EQ(GNetObjectLocal(obj), 1);
  EXPECT_EQ(GNetObjectState(obj), STATE_CREATED);
  CloseGNetObject(obj);
  EXPECT_EQ(GNetObjectState(obj), STATE_GONE);
  EXPECT_EQ(GNetConnect(host, u"no.such.host.invalid"_vs, 1, 10), 0);
}

TEST_F(RIvoObject, ListenAndConnectNeedNoHostYet) {
  ASSERT_EQ(host->Listen(0), 1);
  EXPECT_NE(host->Port(), 0);
  EXPECT_EQ(host->Listen(0), 0);
  EXPECT_EQ(host->Connect(0x7f000001, host->Port(), 10), 0);
  host->Close();
  EXPECT_EQ(host->Port(), 0);
  EXPECT_EQ(host->Listen(0), 1);
}

}  // namespace
