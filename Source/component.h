// CComponent: this package's component. It adds the chipset's built-in list
// of supported hardware IDs to the framework.
#pragma once

#include "basecomp.h"

class CComponent : public CBaseComponent
{
public:
    CComponent();
    ~CComponent() override;

    int Initialize() override;
    int Install(int a, void* b, wchar_t* message, int d, const wchar_t* language) override;

    static const wchar_t* const kBuiltInHardwareIds[];
    static const size_t kBuiltInHardwareIdCount;
};
