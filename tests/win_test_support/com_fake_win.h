// Fake COM objects for the tests: the reference counting of one interface,
// and a way to say which of its methods a fake takes no part in.
#pragma once

#include <windows.h>
#include <unknwn.h>

namespace veltrona::test_support {

// Born with one reference, deleted with the last release.
template <typename Interface>
class ComFake : public Interface {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (iid == IID_IUnknown || iid == __uuidof(Interface)) {
      *object = static_cast<Interface*>(this);
      this->AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }

 protected:
  ComFake() = default;
  virtual ~ComFake() = default;

 private:
  ULONG references_ = 1;
};

}  // namespace veltrona::test_support

// A method of the interface that the fake does not take part in.
#define VELTRONA_COM_NOT_USED(signature) \
  HRESULT STDMETHODCALLTYPE signature override { return E_NOTIMPL; }
