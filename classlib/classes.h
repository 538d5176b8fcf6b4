// The object roots of the class library: TObject, TPersistent, TComponent and events.
#pragma once
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "classlib/sysutils.h"

class TObject {
public:
    virtual ~TObject() = default;
};

class TPersistent : public TObject {
public:
    // Copies the state of source into this object; by default asks source to copy itself
    // into this object (AssignTo), which raises EConvertError when it can't.
    virtual void Assign(const TPersistent& source);
    // Copies this object into dest; raises EConvertError when it can't.
    virtual void AssignTo(TPersistent& dest) const;
};

using TNotifyEvent = std::function<void(TObject* sender)>;

// A component owns the components created with it as owner and frees them, last first,
// when it is freed itself.
class TComponent : public TPersistent {
public:
    explicit TComponent(TComponent* owner);
    ~TComponent() override;
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    TComponent* Owner() const { return owner_; }
    const std::string& Name() const { return name_; }
    void SetName(const std::string& name) { name_ = name; }
    // Hands ownership of child to this component (done by the constructor).
    void InsertComponent(TComponent* child);
    // Takes child out of this component's ownership without freeing it.
    void RemoveComponent(TComponent* child);
    int ComponentCount() const { return static_cast<int>(components_.size()); }
    // Frees the owned components, last first (the destructor does it too, as its first step).
    void DestroyComponents();
    TComponent* Component(int index) const { return components_[index]; }

private:
    TComponent* owner_;
    std::string name_;
    std::vector<TComponent*> components_;
};
