// RIvo: replication of small objects between hosts over ENet (module
// vrl.rivo).
//
// Each host owns some objects; an object is 32 typed slots (integers,
// floats, strings). Once per application frame a host's Sync sends the
// slots that changed to every connected peer, forwards what one peer sends
// to all the others (so a listening host relays between its clients), and
// fills the lists of objects created, modified and closed by peers during
// that Sync. An object can also carry one-off messages to another host's
// object. The wire format is in net/rivo/RIvoWire.h.
//
// Ids: every host numbers the objects it knows, its own and remote ones,
// from 1 to 4095 in its own id space; each peer record translates between
// the host's ids and the ids the peer uses for the objects it owns.
//
// What a peer sends is hostile. A packet is decoded and checked whole before
// any of it is applied or relayed; one that does not decode raises its error
// ("Corrupt RIvo message", "Invalid RIvo data type", "RIvo message data too
// large") from Sync, after Sync has handled every other event, so one bad
// peer neither stops the host nor delays the others. A well-formed message
// that names an object the sender may not touch (a change or close of an id
// it never created, a second creation of an id it already has, a message to
// an object that is gone) is dropped.
//
// All objects of a host belong to the thread that calls its Sync.
#pragma once

#include <enet/enet.h>

#include <cstdint>

#include "containers/List.h"
#include "runtime/Array.h"
#include "runtime/Object.h"
#include "runtime/String.h"

namespace pub {

/// ENet's event record as a framework object, so that collected events can
/// wait in a TList. The record owns its packet (a receive event's) until
/// TakePacket hands it on; one dropped with its packet destroys it.
class ENetEvent : public vrl::Object {
  VRL_CLASS(ENetEvent, vrl::Object)
  explicit ENetEvent(const ::ENetEvent& from);
  ENetEvent() = default;
  ~ENetEvent() override;

  ENetPacket* TakePacket();

  int32_t event = ENET_EVENT_TYPE_NONE;
  ENetPeer* peer = nullptr;
  int32_t channel = 0;
  ENetPacket* packet = nullptr;
};

}  // namespace pub

namespace vrl {

class TGNetHost;
class TGNetPeer;

/// A message as it travels: an object id, a state and the packed slots.
class TGNetMsg : public Object {
  VRL_CLASS(TGNetMsg, Object)
  static Ref<TGNetMsg> Create(int32_t id, int32_t state, Array* data);

  int32_t id = 0;
  int32_t state = 0;
  Ref<Array> data;  // bytes (tag "b")
};

/// One typed value of an object.
class TGNetSlot : public Object {
  VRL_CLASS(TGNetSlot, Object)
  /// Picks the smallest type that carries the value: 4 (8-bit) for 0 to 255,
  /// 5 (16-bit) for 256 to 65535, 1 (32-bit) otherwise.
  virtual void SetInt(int32_t value);
  /// Type 6.
  virtual void SetFloat(float value);
  /// Type 3. Only the low byte of each unit travels.
  virtual void SetString(String* value);
  virtual int32_t GetInt();
  virtual float GetFloat();
  virtual Ref<String> GetString();

  int32_t Type() const { return _type; }

 private:
  friend class TGNetObject;

  int32_t _type = 0;
  int32_t _int = 0;
  float _float = 0;
  Ref<String> _string;
};

class TGNetObject : public Object {
  VRL_CLASS(TGNetObject, Object)
  TGNetObject();

  virtual int32_t State();
  /// 1 (created, never sent) becomes -1; 2 and 4 become 3, announced at the
  /// next sync; 3 stays. Any other state throws "Illegal object state".
  virtual void Close();
  /// The setters write through WriteSlot; indices run from 0 to 31 (others
  /// throw TArrayBoundsException).
  virtual void SetInt(int32_t index, int32_t value);
  virtual void SetFloat(int32_t index, float value);
  virtual void SetString(int32_t index, String* value);
  virtual int32_t GetInt(int32_t index);
  virtual float GetFloat(int32_t index);
  virtual Ref<String> GetString(int32_t index);
  /// Marks the slot modified (state 4 becomes 2) and returns it.
  virtual Ref<TGNetSlot> WriteSlot(int32_t index);
  /// What this object has to send: Null in states 4 and -1, and for a remote
  /// object; else its id, state and modified slots. The modified slots are
  /// cleared; states 1 and 2 become 4, and 3 (dropping the owning peer) -1.
  virtual Ref<TGNetMsg> Sync();
  /// Applies the message's slots through the setters and takes its state.
  /// The data is checked whole first: a corrupt message changes nothing.
  virtual void Update(TGNetMsg* msg);
  virtual Ref<TGNetMsg> CreatedMsg();
  virtual Ref<TGNetMsg> ClosedMsg();
  /// State 5 with every slot, addressed to object `id`.
  virtual Ref<TGNetMsg> MessageMsg(int32_t id);
  /// The set slots whose bit is set in `mask`, packed; throws "RIvo message
  /// data too large" beyond 65520 bytes.
  virtual Ref<Array> PackSlots(int32_t mask);
  /// Decodes all of `data`, then applies it through the setters.
  virtual void UnpackSlots(Array* data);
  static Ref<TGNetObject> Create(int32_t id, int32_t state, TGNetHost* host, TGNetPeer* peer);

  int32_t Id() const { return _id; }
  int32_t Modified() const { return _modified; }
  TGNetHost* Host() const { return _host.get(); }
  /// The peer that owns a remote object; nullptr for a local one.
  TGNetPeer* Peer() const { return _peer.get(); }
  bool IsLocal() const { return _peer.IsNull(); }
  /// A reference free for the application.
  Object* Target() const { return _target.object(); }
  void SetTarget(Object* target) { _target = target; }
  /// The slot at `index` (0 to 31; others throw TArrayBoundsException).
  TGNetSlot* Slot(int32_t index) const;

 private:
  friend class TGNetHost;

  int32_t _id = 0;
  int32_t _state = 0;
  Ref<TGNetHost> _host;
  Ref<TGNetPeer> _peer;
  Ref<Object> _target;
  Ref<Array> _slots;  // 32 TGNetSlot
  int32_t _modified = 0;
};

/// One connected peer of a host and the translation between the host's ids
/// and the ids the peer uses for the objects it owns.
class TGNetPeer : public Object {
  VRL_CLASS(TGNetPeer, Object)
  TGNetPeer();

  /// Disconnects at once.
  virtual void Close();
  virtual void MapLocalId(int32_t local, int32_t remote);
  /// Forgets the pair that `local` belongs to.
  virtual void UnmapLocalId(int32_t local);
  /// Decodes a received packet (checked whole); for states other than 5 an id
  /// that the peer has mapped becomes the host's id. Throws the decoder's
  /// errors. Not in the class description: it takes ENet's packet.
  virtual Ref<TGNetMsg> RecvMsg(ENetPacket* packet);
  /// Sends one reliable packet on channel 0; a state-5 message's id is
  /// translated into the peer's id space, and one whose target the peer has
  /// no id for is not sent (0). Throws "ENet errror" when ENet refuses the
  /// packet. 1 when sent.
  virtual int32_t SendMsg(TGNetMsg* msg);
  /// Not in the class description: it takes ENet's peer.
  static Ref<TGNetPeer> Create(ENetPeer* enetPeer);

  ENetPeer* EnetPeer() const { return _enetPeer; }
  /// True while ENet takes packets for the peer (not once its disconnect is
  /// under way).
  bool Connected() const { return _enetPeer && _enetPeer->state == ENET_PEER_STATE_CONNECTED; }
  /// The peer's id for host id `local`, and the host's id for the peer's
  /// `remote`; 0 when there is none (or the id is outside 1..4095).
  int32_t RemoteId(int32_t local) const;
  int32_t LocalId(int32_t remote) const;

 private:
  friend class TGNetHost;

  ENetPeer* _enetPeer = nullptr;
  Ref<Array> _localToRemote;  // 4096 ints, 0 = no mapping
  Ref<Array> _remoteToLocal;
};

class TGNetHost : public Object {
  VRL_CLASS(TGNetHost, Object)
  TGNetHost();
  ~TGNetHost() override;

  /// Services ENet with timeout 0 until no event is left (or 16384 wait),
  /// appending each to the pending events.
  virtual void UpdateENetEvents();
  /// Called once per application frame: clears the lists of the last Sync,
  /// sends what every local object has to send, then handles the ENet events
  /// (connects, disconnects, received messages, relaying each to the other
  /// peers). An error raised by one object or event does not stop the
  /// others: Sync finishes, then throws the first error. One Sync handles at
  /// most 16384 events; any more wait for the next.
  virtual void Sync();
  /// Disconnects every peer at once, drops them, flushes and destroys the
  /// ENet host. The objects stay.
  virtual void Close();
  /// Sends to every connected peer but `exceptPeer`.
  virtual void BroadCast(TGNetMsg* msg, TGNetPeer* exceptPeer);
  /// Not in the class description: it takes ENet's peer.
  virtual Ref<TGNetPeer> AddPeer(ENetPeer* enetPeer);
  virtual Ref<TList> Objects();
  virtual Ref<TList> Peers();
  virtual Ref<TList> ObjectsCreated();
  virtual Ref<TList> ObjectsModified();
  virtual Ref<TList> ObjectsClosed();
  /// A new local object in state 1 with a fresh id.
  virtual Ref<TGNetObject> CreateObject();
  /// A new message object (state 5, id 0), to fill and send with
  /// SendRIvoMessage.
  virtual Ref<TGNetObject> CreateMessage();
  /// Sends the message's slots to the peer that owns `toObject`; nothing for
  /// a local target.
  virtual void SendRIvoMessage(TGNetObject* msg, TGNetObject* toObject);
  /// The lowest free id; throws "Out of RIvo object IDs" when all 4095 are
  /// taken.
  virtual int32_t AllocId();
  virtual void MapObject(TGNetObject* obj);
  /// Frees the object's id unless the id already belongs to another object.
  virtual void UnmapObject(TGNetObject* obj);
  /// Binds to any address at `port` (0: a port the system picks, see Port).
  /// 0 when a host exists already or ENet refuses.
  virtual int32_t Listen(int32_t port);
  /// Connects to `ip` (host byte order) and waits up to `timeout`
  /// milliseconds for the connection: 1 when it is made, else 0 (the ENet
  /// host is destroyed). 0 at once when a host exists already.
  virtual int32_t Connect(int32_t ip, int32_t port, int32_t timeout);
  static Ref<TGNetHost> Create();

  /// Message objects received for local objects during the last Sync; the
  /// id of each is the id of the object it was sent to.
  Ref<TList> Messages() { return _messages; }
  /// The port the ENet host is bound to; 0 without one.
  int32_t Port() const;
  /// The object with id `id`, or nullptr.
  TGNetObject* ObjectById(int32_t id) const;

 private:
  /// One received packet, after it decoded.
  void Receive(TGNetPeer* peer, pub::ENetEvent* event);
  void PeerDisconnected(TGNetPeer* peer);
  TGNetPeer* FindPeer(ENetPeer* enetPeer) const;
  void DestroyEnetHost();

  ENetHost* _enetHost = nullptr;
  Ref<TList> _enetEvents;  // pub::ENetEvent
  int32_t _pendingEvents = 0;
  Ref<TList> _peers;    // TGNetPeer
  Ref<TList> _objects;  // TGNetObject
  Ref<TList> _created;
  Ref<TList> _modified;
  Ref<TList> _closed;
  Ref<TList> _messages;
  Ref<Array> _idMap;  // 4096 TGNetObject, index = id
};

/// Module functions.
Ref<TGNetHost> CreateGNetHost();
void GNetSync(TGNetHost* host);
/// 1 when the host listens at `port`.
int32_t GNetListen(TGNetHost* host, int32_t port);
/// Resolves `address` (a name or a dotted address) and connects; 0 when it
/// does not resolve or the connection is not made within `timeout` ms.
int32_t GNetConnect(TGNetHost* host, String* address, int32_t port, int32_t timeout);
void CloseGNetHost(TGNetHost* host);
/// The host's objects of one kind: 0 all, 1 created, 2 modified, 3 closed
/// during the last Sync; any other kind throws "Unknown object state".
Ref<TList> GNetObjects(TGNetHost* host, int32_t kind);
/// The message objects received during the last Sync.
Ref<TList> GNetMessages(TGNetHost* host);
Ref<TGNetObject> CreateGNetObject(TGNetHost* host);
Ref<TGNetObject> CreateGNetMessage(TGNetHost* host);
void SendGNetMessage(TGNetObject* msg, TGNetObject* toObject);
int32_t GNetObjectState(TGNetObject* obj);
/// 1 for an object of this host, 0 for one owned by a peer.
int32_t GNetObjectLocal(TGNetObject* obj);
void CloseGNetObject(TGNetObject* obj);
void SetGNetInt(TGNetObject* obj, int32_t index, int32_t value);
void SetGNetFloat(TGNetObject* obj, int32_t index, float value);
void SetGNetString(TGNetObject* obj, int32_t index, String* value);
int32_t GetGNetInt(TGNetObject* obj, int32_t index);
float GetGNetFloat(TGNetObject* obj, int32_t index);
Ref<String> GetGNetString(TGNetObject* obj, int32_t index);
Object* GetGNetTarget(TGNetObject* obj);
void SetGNetTarget(TGNetObject* obj, Object* target);

namespace rivo {
/// Registers the RIvo classes and initialises ENet (once; it is deinitialised
/// at exit). Throws "ENet errror" when ENet cannot start.
void Init();
}  // namespace rivo

}  // namespace vrl
