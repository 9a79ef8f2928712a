#include "net/rivo/RIvo.h"

#include <arpa/inet.h>

#include <chrono>
#include <cstring>
#include <exception>
#include <span>
#include <vector>

#include "net/Host.h"
#include "net/rivo/RIvoWire.h"
#include "runtime/ClassRecord.h"
#include "runtime/Exceptions.h"
#include "runtime/Limits.h"
#include "runtime/Runtime.h"
#include "runtime/Startup.h"

namespace pub {

ENetEvent::ENetEvent(const ::ENetEvent& from)
    : event(int32_t(from.type)), peer(from.peer), channel(from.channelID), packet(from.packet) {}

ENetEvent::~ENetEvent() {
  if (packet) enet_packet_destroy(packet);
}

ENetPacket* ENetEvent::TakePacket() {
  ENetPacket* taken = packet;
  packet = nullptr;
  return taken;
}

const vrl::ClassRecord& ENetEvent::StaticClass() {
  static const vrl::ClassRecord record = vrl::ClassRecord::Of<ENetEvent>("ENetEvent", [](auto& d) {
    d.template Field<&ENetEvent::event>("event");
    d.template Field<&ENetEvent::peer>("peer");
    d.template Field<&ENetEvent::channel>("channel");
    d.template Field<&ENetEvent::packet>("packet");
  });
  return record;
}

}  // namespace pub

namespace vrl {

using namespace rivo;

const ClassRecord& TGNetMsg::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TGNetMsg>("TGNetMsg", [](auto& d) {
    d.template Field<&TGNetMsg::id>("id");
    d.template Field<&TGNetMsg::state>("state");
    d.template Field<&TGNetMsg::data>("data", "[]b");
  });
  return record;
}

const ClassRecord& TGNetSlot::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TGNetSlot>("TGNetSlot", [](auto& d) {
    d.template Field<&TGNetSlot::_type>("_type");
    d.template Field<&TGNetSlot::_int>("_int");
    d.template Field<&TGNetSlot::_float>("_float");
    d.template Field<&TGNetSlot::_string>("_string");
    d.template Method<&TGNetSlot::SetInt>("SetInt");
    d.template Method<&TGNetSlot::SetFloat>("SetFloat");
    d.template Method<&TGNetSlot::SetString>("SetString");
    d.template Method<&TGNetSlot::GetInt>("GetInt");
    d.template Method<&TGNetSlot::GetFloat>("GetFloat");
    d.template Method<&TGNetSlot::GetString>("GetString");
  });
  return record;
}

const ClassRecord& TGNetObject::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TGNetObject>("TGNetObject", [](auto& d) {
    d.template Field<&TGNetObject::_id>("_id");
    d.template Field<&TGNetObject::_state>("_state");
    d.template Field<&TGNetObject::_host>("_host");
    d.template Field<&TGNetObject::_peer>("_peer");
    d.template Field<&TGNetObject::_target>("_target");
    d.template Field<&TGNetObject::_slots>("_slots", "[]:TGNetSlot");
    d.template Field<&TGNetObject::_modified>("_modified");
    d.template Method<&TGNetObject::State>("State");
    d.template Method<&TGNetObject::Close>("Close");
    d.template Method<&TGNetObject::SetInt>("SetInt");
    d.template Method<&TGNetObject::SetFloat>("SetFloat");
    d.template Method<&TGNetObject::SetString>("SetString");
    d.template Method<&TGNetObject::GetInt>("GetInt");
    d.template Method<&TGNetObject::GetFloat>("GetFloat");
    d.template Method<&TGNetObject::GetString>("GetString");
    d.template Method<&TGNetObject::WriteSlot>("WriteSlot");
    d.template Method<&TGNetObject::Sync>("Sync");
    d.template Method<&TGNetObject::Update>("Update");
    d.template Method<&TGNetObject::CreatedMsg>("CreatedMsg");
    d.template Method<&TGNetObject::ClosedMsg>("ClosedMsg");
    d.template Method<&TGNetObject::MessageMsg>("MessageMsg");
    d.template Method<&TGNetObject::PackSlots>("PackSlots", "(i)[]b");
    d.template Method<&TGNetObject::UnpackSlots>("UnpackSlots", "([]b)");
    d.template Function<&TGNetObject::Create>("Create");
  });
  return record;
}

// RecvMsg and Create take ENet's records, which reflection cannot carry.
const ClassRecord& TGNetPeer::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TGNetPeer>("TGNetPeer", [](auto& d) {
    d.template Field<&TGNetPeer::_enetPeer>("_enetPeer");
    d.template Field<&TGNetPeer::_localToRemote>("_localToRemote", "[]i");
    d.template Field<&TGNetPeer::_remoteToLocal>("_remoteToLocal", "[]i");
    d.template Method<&TGNetPeer::Close>("Close");
    d.template Method<&TGNetPeer::MapLocalId>("MapLocalId");
    d.template Method<&TGNetPeer::UnmapLocalId>("UnmapLocalId");
    d.template Method<&TGNetPeer::RecvMsg>("RecvMsg");
    d.template Method<&TGNetPeer::SendMsg>("SendMsg");
    d.template Function<&TGNetPeer::Create>("Create");
  });
  return record;
}

// AddPeer takes ENet's peer, which reflection cannot carry.
const ClassRecord& TGNetHost::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TGNetHost>("TGNetHost", [](auto& d) {
    d.template Field<&TGNetHost::_enetHost>("_enetHost");
    d.template Field<&TGNetHost::_enetEvents>("_enetEvents");
    d.template Field<&TGNetHost::_peers>("_peers");
    d.template Field<&TGNetHost::_objects>("_objects");
    d.template Field<&TGNetHost::_created>("_created");
    d.template Field<&TGNetHost::_modified>("_modified");
    d.template Field<&TGNetHost::_closed>("_closed");
    d.template Field<&TGNetHost::_messages>("_messages");
    d.template Field<&TGNetHost::_idMap>("_idMap", "[]:TGNetObject");
    d.template Method<&TGNetHost::UpdateENetEvents>("UpdateENetEvents");
    d.template Method<&TGNetHost::Sync>("Sync");
    d.template Method<&TGNetHost::Close>("Close");
    d.template Method<&TGNetHost::BroadCast>("BroadCast");
    d.template Method<&TGNetHost::AddPeer>("AddPeer");
    d.template Method<&TGNetHost::Objects>("Objects");
    d.template Method<&TGNetHost::Peers>("Peers");
    d.template Method<&TGNetHost::ObjectsCreated>("ObjectsCreated");
    d.template Method<&TGNetHost::ObjectsModified>("ObjectsModified");
    d.template Method<&TGNetHost::ObjectsClosed>("ObjectsClosed");
    d.template Method<&TGNetHost::CreateObject>("CreateObject");
    d.template Method<&TGNetHost::CreateMessage>("CreateMessage");
    d.template Method<&TGNetHost::SendRIvoMessage>("SendRIvoMessage");
    d.template Method<&TGNetHost::AllocId>("AllocId");
    d.template Method<&TGNetHost::MapObject>("MapObject");
    d.template Method<&TGNetHost::UnmapObject>("UnmapObject");
    d.template Method<&TGNetHost::Listen>("Listen");
    d.template Method<&TGNetHost::Connect>("Connect");
    d.template Function<&TGNetHost::Create>("Create");
  });
  return record;
}

namespace {

void DeinitializeENet() { enet_deinitialize(); }

}  // namespace

void rivo::Init() {
  static bool initialised = false;
  if (!BeginModuleInit(initialised)) return;
  runtime::Init();
  containers::Init();
  vrRegisterClass(pub::ENetEvent::StaticClass());
  vrRegisterClass(TGNetMsg::StaticClass());
  vrRegisterClass(TGNetSlot::StaticClass());
  vrRegisterClass(TGNetObject::StaticClass());
  vrRegisterClass(TGNetPeer::StaticClass());
  vrRegisterClass(TGNetHost::StaticClass());
  if (enet_initialize() != 0) vrThrowText("ENet errror");
  RegisterEndHandler(&DeinitializeENet);
}

// ---------------------------------------------------------------------------

namespace {

// A host never sends or accepts more than one message's worth in a packet,
// so a peer cannot make it gather megabytes of fragments.
constexpr std::size_t kMaxPacketSize = limits::kRivoPacketBytes;
// One Sync handles at most this many events; the rest wait for the next, so
// a peer that floods the host cannot keep Sync from returning.
constexpr int32_t kMaxEventsPerSync = 16384;

// Keeps the first framework error of a run of independent steps, so that
// one failing step does not keep the others from running; Rethrow throws it
// once they are all done. Other exceptions (out of memory) pass at once.
class FirstError {
 public:
  template <class Work>
  void Run(Work&& work) {
    try {
      std::forward<Work>(work)();
    } catch (const ThrownObject&) {
      if (!_error) _error = std::current_exception();
    }
  }
  void Rethrow() {
    if (_error) std::rethrow_exception(std::exchange(_error, nullptr));
  }

 private:
  std::exception_ptr _error;
};

Ref<Array> ByteArray(std::span<const uint8_t> bytes) {
  Ref<Array> array = Array::New("b", int32_t(bytes.size()));
  if (!bytes.empty()) std::memcpy(array->Data(), bytes.data(), bytes.size());
  return array;
}

std::span<const uint8_t> BytesOf(Array* array) {
  if (!array || array->DataSize() <= 0) return {};
  return {static_cast<const uint8_t*>(array->Data()), std::size_t(array->DataSize())};
}

bool ValidId(int32_t id) { return id >= 1 && id <= kMaxId; }

}  // namespace

// ---------------------------------------------------------------------------
// Messages and slots

Ref<TGNetMsg> TGNetMsg::Create(int32_t id, int32_t state, Array* data) {
  Ref<TGNetMsg> msg = New<TGNetMsg>();
  msg->id = id;
  msg->state = state;
  msg->data = data;
  return msg;
}

void TGNetSlot::SetInt(int32_t value) {
  // The smallest type: negatives and values above 65535 need all 32 bits.
  if (value >= 0 && value < 256)
    _type = SLOT_BYTE;
  else if (value >= 256 && value <= 65535)
    _type = SLOT_SHORT;
  else
    _type = SLOT_INT;
  _int = value;
}

void TGNetSlot::SetFloat(float value) {
  _type = SLOT_FLOAT;
  _float = value;
}

void TGNetSlot::SetString(String* value) {
  _type = SLOT_STRING;
  _string = value;
}

int32_t TGNetSlot::GetInt() { return _int; }
float TGNetSlot::GetFloat() { return _float; }
Ref<String> TGNetSlot::GetString() { return _string; }

// ---------------------------------------------------------------------------
// Objects

namespace {

// Applies decoded slots through the object's setters (which mark them
// modified). The slots were checked in full when they were decoded.
void ApplySlots(TGNetObject* obj, const std::vector<WireSlot>& slots) {
  for (const WireSlot& slot : slots) {
    switch (slot.type) {
      case SLOT_INT:
      case SLOT_BYTE:
      case SLOT_SHORT:
        obj->SetInt(slot.index, slot.intValue);
        break;
      case SLOT_HALF:
      case SLOT_FLOAT:
        obj->SetFloat(slot.index, slot.floatValue);
        break;
      default:  // SLOT_STRING
        obj->SetString(slot.index, String::FromByteBuffer(slot.text.data(), int32_t(slot.text.size())));
        break;
    }
  }
}

}  // namespace

TGNetObject::TGNetObject() {
  Ref<Array> slots = Array::New(":TGNetSlot", kSlotCount);
  for (int32_t i = 0; i < kSlotCount; ++i) slots->SetObject(i, New<TGNetSlot>().get());
  _slots = slots;
}

Ref<TGNetObject> TGNetObject::Create(int32_t id, int32_t state, TGNetHost* host, TGNetPeer* peer) {
  Ref<TGNetObject> obj = New<TGNetObject>();
  obj->_id = id;
  obj->_state = state;
  obj->_host = host;
  obj->_peer = peer;
  return obj;
}

TGNetSlot* TGNetObject::Slot(int32_t index) const {
  if (index < 0 || index >= kSlotCount) ThrowArrayBoundsException();
  return static_cast<TGNetSlot*>(_slots->GetObject(index));
}

int32_t TGNetObject::State() { return _state; }

void TGNetObject::Close() {
  switch (_state) {
    case STATE_CREATED:
      _state = STATE_GONE;
      break;
    case STATE_MODIFIED:
    case STATE_SYNCED:
      _state = STATE_CLOSED;
      break;
    case STATE_CLOSED:
      break;
    default:
      vrThrowText("Illegal object state");
  }
}

void TGNetObject::SetInt(int32_t index, int32_t value) { WriteSlot(index)->SetInt(value); }
void TGNetObject::SetFloat(int32_t index, float value) { WriteSlot(index)->SetFloat(value); }
void TGNetObject::SetString(int32_t index, String* value) { WriteSlot(index)->SetString(value); }
int32_t TGNetObject::GetInt(int32_t index) { return Slot(index)->GetInt(); }
float TGNetObject::GetFloat(int32_t index) { return Slot(index)->GetFloat(); }
Ref<String> TGNetObject::GetString(int32_t index) { return Slot(index)->GetString(); }

Ref<TGNetSlot> TGNetObject::WriteSlot(int32_t index) {
  TGNetSlot* slot = Slot(index);
  _modified = int32_t(uint32_t(_modified) | 1u << index);
  if (_state == STATE_SYNCED) _state = STATE_MODIFIED;
  return slot;
}

Ref<TGNetMsg> TGNetObject::Sync() {
  if (_state == STATE_SYNCED || _state == STATE_GONE) return {};
  Ref<TGNetMsg> msg;
  // Packing may fail (too much data); the object is then left as it was.
  if (_peer.IsNull()) msg = TGNetMsg::Create(_id, _state, PackSlots(_modified));
  _modified = 0;
  if (_state == STATE_CREATED || _state == STATE_MODIFIED) {
    _state = STATE_SYNCED;
  } else if (_state == STATE_CLOSED) {
    _peer = nullptr;
    _state = STATE_GONE;
  }
  return msg;
}

void TGNetObject::Update(TGNetMsg* msg) {
  if (!msg) ThrowNullObjectException();
  UnpackSlots(msg->data);
  _state = msg->state;
}

Ref<TGNetMsg> TGNetObject::CreatedMsg() { return TGNetMsg::Create(_id, STATE_CREATED, PackSlots(-1)); }
Ref<TGNetMsg> TGNetObject::ClosedMsg() { return TGNetMsg::Create(_id, STATE_CLOSED, nullptr); }
Ref<TGNetMsg> TGNetObject::MessageMsg(int32_t id) {
  return TGNetMsg::Create(id, STATE_MESSAGE, PackSlots(-1));
}

Ref<Array> TGNetObject::PackSlots(int32_t mask) {
  std::vector<uint8_t> bytes;
  for (int32_t i = 0; i < kSlotCount; ++i) {
    if (!(uint32_t(mask) >> i & 1)) continue;
    const TGNetSlot* slot = Slot(i);
    const String* text = slot->_string.get();
    AppendSlot(bytes, i, slot->_type, slot->_int, slot->_float, text ? text->View() : std::u16string_view());
    if (bytes.size() > std::size_t(kMaxPackedSize)) vrThrowText("RIvo message data too large");
  }
  return ByteArray(bytes);
}

void TGNetObject::UnpackSlots(Array* data) { ApplySlots(this, UnpackSlotData(BytesOf(data))); }

// ---------------------------------------------------------------------------
// Peers

TGNetPeer::TGNetPeer()
    : _localToRemote(Array::New("i", kIdSpace)), _remoteToLocal(Array::New("i", kIdSpace)) {}

Ref<TGNetPeer> TGNetPeer::Create(ENetPeer* enetPeer) {
  Ref<TGNetPeer> peer = New<TGNetPeer>();
  peer->_enetPeer = enetPeer;
  return peer;
}

void TGNetPeer::Close() {
  if (_enetPeer) enet_peer_disconnect_now(_enetPeer, 0);
  _enetPeer = nullptr;
}

int32_t TGNetPeer::RemoteId(int32_t local) const {
  return ValidId(local) ? _localToRemote->DataAs<int32_t>()[local] : 0;
}

int32_t TGNetPeer::LocalId(int32_t remote) const {
  return ValidId(remote) ? _remoteToLocal->DataAs<int32_t>()[remote] : 0;
}

void TGNetPeer::MapLocalId(int32_t local, int32_t remote) {
  if (!ValidId(local) || !ValidId(remote)) vrThrowText("RIvo error");
  _localToRemote->DataAs<int32_t>()[local] = remote;
  _remoteToLocal->DataAs<int32_t>()[remote] = local;
}

void TGNetPeer::UnmapLocalId(int32_t local) {
  if (!ValidId(local)) return;
  int32_t* toRemote = _localToRemote->DataAs<int32_t>();
  int32_t* toLocal = _remoteToLocal->DataAs<int32_t>();
  const int32_t remote = toRemote[local];
  if (remote && toLocal[remote] == local) toLocal[remote] = 0;
  toRemote[local] = 0;
}

Ref<TGNetMsg> TGNetPeer::RecvMsg(ENetPacket* packet) {
  if (!packet) ThrowNullObjectException();
  const WireMessage message = DecodeMessage({packet->data, packet->dataLength});
  int32_t id = message.id;
  if (message.state != STATE_MESSAGE) {
    if (const int32_t local = LocalId(id)) id = local;
  }
  return TGNetMsg::Create(id, message.state, ByteArray(message.data));
}

int32_t TGNetPeer::SendMsg(TGNetMsg* msg) {
  if (!msg) ThrowNullObjectException();
  int32_t id = msg->id;
  // A message travels in the id space of the peer that owns its target; a
  // target the peer has no id for cannot be reached there.
  if (msg->state == STATE_MESSAGE && (id = RemoteId(id)) == 0) return 0;
  const std::span<const uint8_t> data = BytesOf(msg->data);
  if (data.size() > std::size_t(kMaxPackedSize)) vrThrowText("RIvo message data too large");
  std::vector<uint8_t> bytes(std::size_t(kHeaderSize) + data.size());
  EncodeHeader(bytes.data(), msg->state, id);
  if (!data.empty()) std::memcpy(bytes.data() + kHeaderSize, data.data(), data.size());
  if (!_enetPeer) vrThrowText("ENet errror");
  ENetPacket* packet = enet_packet_create(bytes.data(), bytes.size(), ENET_PACKET_FLAG_RELIABLE);
  if (!packet) vrThrowText("ENet errror");
  if (enet_peer_send(_enetPeer, 0, packet) < 0) {
    // A refused packet stays the sender's.
    if (packet->referenceCount == 0) enet_packet_destroy(packet);
    vrThrowText("ENet errror");
  }
  return 1;
}

// ---------------------------------------------------------------------------
// Hosts

TGNetHost::TGNetHost()
    : _enetEvents(New<TList>()),
      _peers(New<TList>()),
      _objects(New<TList>()),
      _created(New<TList>()),
      _modified(New<TList>()),
      _closed(New<TList>()),
      _messages(New<TList>()),
      _idMap(Array::New(":TGNetObject", kIdSpace)) {}

TGNetHost::~TGNetHost() {
  if (!_enetHost) return;
  for (TGNetPeer* peer : ListOf<TGNetPeer>(_peers)) peer->Close();
  DestroyEnetHost();
}

Ref<TGNetHost> TGNetHost::Create() { return New<TGNetHost>(); }

Ref<TList> TGNetHost::Objects() { return _objects; }
Ref<TList> TGNetHost::Peers() { return _peers; }
Ref<TList> TGNetHost::ObjectsCreated() { return _created; }
Ref<TList> TGNetHost::ObjectsModified() { return _modified; }
Ref<TList> TGNetHost::ObjectsClosed() { return _closed; }

int32_t TGNetHost::Port() const { return _enetHost ? _enetHost->address.port : 0; }

TGNetObject* TGNetHost::ObjectById(int32_t id) const {
  return ValidId(id) ? CastRaw<TGNetObject>(_idMap->GetObject(id)) : nullptr;
}

TGNetPeer* TGNetHost::FindPeer(ENetPeer* enetPeer) const {
  for (TGNetPeer* peer : ListOf<TGNetPeer>(_peers))
    if (peer->_enetPeer == enetPeer) return peer;
  return nullptr;
}

int32_t TGNetHost::AllocId() {
  for (int32_t id = 1; id <= kMaxId; ++id)
    if (IsNull(_idMap->GetObject(id))) return id;
  vrThrowText("Out of RIvo object IDs");
}

void TGNetHost::MapObject(TGNetObject* obj) {
  if (!obj) ThrowNullObjectException();
  if (!ValidId(obj->_id)) vrThrowText("RIvo error");
  _idMap->SetObject(obj->_id, obj);
}

void TGNetHost::UnmapObject(TGNetObject* obj) {
  if (!obj) ThrowNullObjectException();
  // The id may have gone to a new object since this one gave it up.
  if (ObjectById(obj->_id) == obj) _idMap->SetObject(obj->_id, Null());
}

Ref<TGNetObject> TGNetHost::CreateObject() {
  Ref<TGNetObject> obj = TGNetObject::Create(AllocId(), STATE_CREATED, this, nullptr);
  MapObject(obj);
  _objects->AddLast(obj);
  return obj;
}

Ref<TGNetObject> TGNetHost::CreateMessage() { return TGNetObject::Create(0, STATE_MESSAGE, this, nullptr); }

void TGNetHost::SendRIvoMessage(TGNetObject* msg, TGNetObject* toObject) {
  if (!msg || !toObject) ThrowNullObjectException();
  TGNetPeer* owner = toObject->_peer.get();
  if (!owner) return;
  owner->SendMsg(msg->MessageMsg(toObject->_id));
}

void TGNetHost::BroadCast(TGNetMsg* msg, TGNetPeer* exceptPeer) {
  FirstError error;
  for (TGNetPeer* peer : ListOf<TGNetPeer>(_peers)) {
    // A peer whose disconnect is on its way takes nothing more; it leaves
    // the list when its disconnect event is handled.
    if (peer == exceptPeer || !peer->Connected()) continue;
    error.Run([&] { peer->SendMsg(msg); });
  }
  error.Rethrow();
}

Ref<TGNetPeer> TGNetHost::AddPeer(ENetPeer* enetPeer) {
  Ref<TGNetPeer> peer = TGNetPeer::Create(enetPeer);
  _peers->AddLast(peer);
  // The newcomer learns every object that the others know: the synced and
  // modified ones, and the remote ones created during this Sync, which were
  // relayed before it came. Local objects in state 1 go to every peer at the
  // next Sync.
  FirstError error;
  for (TGNetObject* obj : ListOf<TGNetObject>(_objects)) {
    const int32_t state = obj->_state;
    if (state == STATE_SYNCED || state == STATE_MODIFIED || (state == STATE_CREATED && !obj->IsLocal()))
      error.Run([&] { peer->SendMsg(obj->CreatedMsg()); });
  }
  error.Rethrow();
  return peer;
}

void TGNetHost::UpdateENetEvents() {
  if (!_enetHost) return;
  // However fast the peers send, the queue stays bounded.
  ::ENetEvent event{};
  while (_pendingEvents < kMaxEventsPerSync && enet_host_service(_enetHost, &event, 0) > 0) {
    _enetEvents->AddLast(New<pub::ENetEvent>(event));
    ++_pendingEvents;
  }
}

void TGNetHost::Sync() {
  _created->Clear();
  _modified->Clear();
  _closed->Clear();
  _messages->Clear();
  FirstError error;

  // What the local objects have to send; objects that are gone leave, and
  // give up their id and their peer's mapping unless the id has a new owner.
  for (Ref<TLink> link = _objects->FirstLink(); link;) {
    Ref<TLink> next = link->NextLink();
    Ref<TGNetObject> obj = Cast<TGNetObject>(link->Value());
    if (obj) {
      Ref<TGNetPeer> owner = obj->_peer;
      error.Run([&] {
        Ref<TGNetMsg> msg = obj->Sync();
        if (msg) BroadCast(msg, owner);
      });
      if (obj->_state == STATE_GONE) {
        link->Remove();
        if (ObjectById(obj->_id) == obj.get()) {
          if (owner) owner->UnmapLocalId(obj->_id);
          UnmapObject(obj);
        }
      }
    }
    link = next;
  }

  UpdateENetEvents();
  for (int32_t handled = 0; handled < kMaxEventsPerSync; ++handled) {
    Ref<pub::ENetEvent> event = Cast<pub::ENetEvent>(_enetEvents->RemoveFirst());
    if (!event) break;
    --_pendingEvents;
    // The event has left the queue before it is handled: one that fails is
    // not met again.
    error.Run([&] {
      switch (event->event) {
        case ENET_EVENT_TYPE_CONNECT:
          AddPeer(event->peer);
          break;
        case ENET_EVENT_TYPE_DISCONNECT:
          if (TGNetPeer* peer = FindPeer(event->peer)) PeerDisconnected(peer);
          break;
        case ENET_EVENT_TYPE_RECEIVE:
          if (TGNetPeer* peer = FindPeer(event->peer)) Receive(peer, event);
          break;
        default:
          vrThrowText("RIvo error");
      }
    });
    if (ENetPacket* packet = event->TakePacket()) enet_packet_destroy(packet);
    UpdateENetEvents();
  }
  // Relayed messages leave now rather than at the next Sync.
  if (_enetHost) enet_host_flush(_enetHost);
  error.Rethrow();
}

void TGNetHost::Receive(TGNetPeer* peer, pub::ENetEvent* event) {
  const ENetPacket* packet = event->packet;
  if (!packet) return;
  // Checked whole before anything of it is used.
  const WireMessage message = DecodeMessage({packet->data, packet->dataLength});
  Ref<TGNetMsg> msg = TGNetMsg::Create(message.id, message.state, ByteArray(message.data));

  if (message.state == STATE_MESSAGE) {
    // Addressed to an object of this host's id space; one that is gone
    // takes nothing.
    TGNetObject* target = ObjectById(message.id);
    if (!target) return;
    if (target->IsLocal()) {
      Ref<TGNetObject> received = TGNetObject::Create(message.id, STATE_MESSAGE, this, nullptr);
      ApplySlots(received, message.slots);
      received->_state = STATE_MESSAGE;
      _messages->AddLast(received);
    } else if (target->_peer->Connected()) {
      target->_peer->SendMsg(msg);
    }
    return;
  }

  Ref<TGNetObject> obj;
  if (message.state == STATE_CREATED) {
    // A second creation of an id the peer has already made is refused.
    if (peer->LocalId(message.id)) return;
    const int32_t local = AllocId();
    obj = TGNetObject::Create(local, STATE_CREATED, this, peer);
    MapObject(obj);
    peer->MapLocalId(local, message.id);
    _objects->AddLast(obj);
    _created->AddLast(obj);
  } else {
    // Only the peer that made an object may change or close it.
    obj = ObjectById(peer->LocalId(message.id));
    if (!obj || obj->_peer.get() != peer) return;
    if (message.state == STATE_MODIFIED) {
      // Already listed when it changed earlier in this Sync.
      if (obj->_state != STATE_MODIFIED) _modified->AddLast(obj);
    } else {
      peer->UnmapLocalId(obj->_id);
      UnmapObject(obj);
      _closed->AddLast(obj);
    }
  }
  msg->id = obj->_id;
  ApplySlots(obj, message.slots);
  obj->_state = message.state;
  BroadCast(msg, peer);
}

void TGNetHost::PeerDisconnected(TGNetPeer* peer) {
  Ref<TGNetPeer> gone(peer);
  _peers->Remove(peer);
  FirstError error;
  for (TGNetObject* obj : ListOf<TGNetObject>(_objects)) {
    // Objects closed already (by the peer, or here) are not announced again.
    if (obj->_peer.get() != peer || obj->_state == STATE_CLOSED || obj->_state == STATE_GONE) continue;
    error.Run([&] { BroadCast(obj->ClosedMsg(), peer); });
    peer->UnmapLocalId(obj->_id);
    UnmapObject(obj);
    _closed->AddLast(obj);
    obj->_state = STATE_CLOSED;
  }
  // ENet reuses the peer record for the next connection.
  peer->_enetPeer = nullptr;
  error.Rethrow();
}

void TGNetHost::DestroyEnetHost() {
  for (TGNetPeer* peer : ListOf<TGNetPeer>(_peers)) peer->_enetPeer = nullptr;
  // Pending events name peers of this host; their packets go with them.
  while (!_enetEvents->IsEmpty()) {
    Ref<pub::ENetEvent> event = Cast<pub::ENetEvent>(_enetEvents->RemoveFirst());
    if (!event) continue;
    --_pendingEvents;
    if (ENetPacket* packet = event->TakePacket()) enet_packet_destroy(packet);
  }
  _pendingEvents = 0;
  if (_enetHost) enet_host_destroy(_enetHost);
  _enetHost = nullptr;
}

void TGNetHost::Close() {
  for (TGNetPeer* peer : ListOf<TGNetPeer>(_peers)) peer->Close();
  _peers->Clear();
  if (_enetHost) enet_host_flush(_enetHost);
  DestroyEnetHost();
}

namespace {

ENetHost* CreateEnetHost(const ENetAddress* address) {
  ENetHost* host = enet_host_create(address, 32, 1, 0, 0);
  if (host) host->maximumPacketSize = kMaxPacketSize;
  return host;
}

}  // namespace

int32_t TGNetHost::Listen(int32_t port) {
  if (_enetHost || port < 0 || port > 0xffff) return 0;
  ENetAddress address{};
  address.host = ENET_HOST_ANY;
  address.port = uint16_t(port);
  _enetHost = CreateEnetHost(&address);
  return _enetHost ? 1 : 0;
}

int32_t TGNetHost::Connect(int32_t ip, int32_t port, int32_t timeout) {
  if (_enetHost || port < 0 || port > 0xffff) return 0;
  _enetHost = CreateEnetHost(nullptr);
  if (!_enetHost) return 0;
  ENetAddress address{};
  address.host = htonl(uint32_t(ip));
  address.port = uint16_t(port);
  ENetPeer* enetPeer = enet_host_connect(_enetHost, &address, 1, 0);
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout > 0 ? timeout : 0);
  while (enetPeer) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    ::ENetEvent event{};
    const int served = enet_host_service(_enetHost, &event, left > 0 ? uint32_t(left) : 0);
    if (served < 0) break;
    if (served > 0) {
      if (event.peer == enetPeer && event.type == ENET_EVENT_TYPE_CONNECT) {
        AddPeer(enetPeer);
        return 1;
      }
      if (event.peer == enetPeer && event.type == ENET_EVENT_TYPE_DISCONNECT) break;
      _enetEvents->AddLast(New<pub::ENetEvent>(event));
      ++_pendingEvents;
    } else if (left <= 0) {
      break;
    }
  }
  DestroyEnetHost();
  return 0;
}

// ---------------------------------------------------------------------------
// Module functions

namespace {

TGNetHost* CheckedHost(TGNetHost* host) {
  if (!host) ThrowNullObjectException();
  return host;
}

TGNetObject* CheckedObject(TGNetObject* obj) {
  if (!obj) ThrowNullObjectException();
  return obj;
}

}  // namespace

Ref<TGNetHost> CreateGNetHost() { return TGNetHost::Create(); }
void GNetSync(TGNetHost* host) { CheckedHost(host)->Sync(); }
int32_t GNetListen(TGNetHost* host, int32_t port) { return CheckedHost(host)->Listen(port); }

int32_t GNetConnect(TGNetHost* host, String* address, int32_t port, int32_t timeout) {
  CheckedHost(host);
  const int32_t ip = HostIp(address, 0);
  if (ip == 0) return 0;
  return host->Connect(ip, port, timeout);
}

void CloseGNetHost(TGNetHost* host) { CheckedHost(host)->Close(); }

Ref<TList> GNetObjects(TGNetHost* host, int32_t kind) {
  CheckedHost(host);
  switch (kind) {
    case 0:
      return host->Objects();
    case 1:
      return host->ObjectsCreated();
    case 2:
      return host->ObjectsModified();
    case 3:
      return host->ObjectsClosed();
    default:
      vrThrowText("Unknown object state");
  }
}

Ref<TList> GNetMessages(TGNetHost* host) { return CheckedHost(host)->Messages(); }
Ref<TGNetObject> CreateGNetObject(TGNetHost* host) { return CheckedHost(host)->CreateObject(); }
Ref<TGNetObject> CreateGNetMessage(TGNetHost* host) { return CheckedHost(host)->CreateMessage(); }

void SendGNetMessage(TGNetObject* msg, TGNetObject* toObject) {
  CheckedObject(msg);
  TGNetHost* host = msg->Host();
  if (!host) ThrowNullObjectException();
  host->SendRIvoMessage(msg, toObject);
}

int32_t GNetObjectState(TGNetObject* obj) { return CheckedObject(obj)->State(); }
int32_t GNetObjectLocal(TGNetObject* obj) { return CheckedObject(obj)->IsLocal() ? 1 : 0; }
void CloseGNetObject(TGNetObject* obj) { CheckedObject(obj)->Close(); }
void SetGNetInt(TGNetObject* obj, int32_t index, int32_t value) { CheckedObject(obj)->SetInt(index, value); }
void SetGNetFloat(TGNetObject* obj, int32_t index, float value) {
  CheckedObject(obj)->SetFloat(index, value);
}
void SetGNetString(TGNetObject* obj, int32_t index, String* value) {
  CheckedObject(obj)->SetString(index, value);
}
int32_t GetGNetInt(TGNetObject* obj, int32_t index) { return CheckedObject(obj)->GetInt(index); }
float GetGNetFloat(TGNetObject* obj, int32_t index) { return CheckedObject(obj)->GetFloat(index); }
Ref<String> GetGNetString(TGNetObject* obj, int32_t index) { return CheckedObject(obj)->GetString(index); }
Object* GetGNetTarget(TGNetObject* obj) { return CheckedObject(obj)->Target(); }
void SetGNetTarget(TGNetObject* obj, Object* target) { CheckedObject(obj)->SetTarget(target); }

}  // namespace vrl
