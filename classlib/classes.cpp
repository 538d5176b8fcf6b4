#include "classlib/classes.h"

#include <algorithm>

void TPersistent::Assign(const TPersistent& source) { source.AssignTo(*this); }

void TPersistent::AssignTo(TPersistent&) const { throw EConvertError("Cannot assign this object"); }

TComponent::TComponent(TComponent* owner) : owner_(nullptr) {
    if (owner) owner->InsertComponent(this);
}

TComponent::~TComponent() {
    DestroyComponents();
    if (owner_) owner_->RemoveComponent(this);
}

void TComponent::DestroyComponents() {
    while (!components_.empty()) {
        TComponent* child = components_.back();
        components_.pop_back();
        child->owner_ = nullptr;
        delete child;
    }
}

void TComponent::InsertComponent(TComponent* child) {
    if (child->owner_) child->owner_->RemoveComponent(child);
    components_.push_back(child);
    child->owner_ = this;
}

void TComponent::RemoveComponent(TComponent* child) {
    auto it = std::find(components_.begin(), components_.end(), child);
    if (it != components_.end()) components_.erase(it);
    child->owner_ = nullptr;
}
