// Root class of the codec and store objects: gives every object a virtual
// destructor, so whoever created an object can delete it through a base pointer.
#pragma once

#include "platform/PlatformApi.h"

class PLATFORM_API CObject {
public:
    CObject() = default;
    CObject(const CObject&) = default;
    CObject& operator=(const CObject&) = default;
    virtual ~CObject() = default;
};
