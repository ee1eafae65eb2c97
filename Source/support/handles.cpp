#include "support/handles.h"

#include <shlobj.h>

void ShellItemListTraits::Close(LPITEMIDLIST p)
{
    CComPtr<IMalloc> allocator;
    if (SUCCEEDED(SHGetMalloc(allocator.put())) && allocator)
        allocator->Free(p);
}
