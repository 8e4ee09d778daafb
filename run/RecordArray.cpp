// Growing a record array's block on the process heap.
#include "RecordArray.h"

#include "FatalExit.h"

void* GrowRecordArray(void* data, size_t& capacity, size_t recordSize)
{
    size_t grown = capacity == 0 ? 8 : capacity * 2;
    void* block = data == nullptr ? HeapAlloc(GetProcessHeap(), 0, grown * recordSize)
                                  : HeapReAlloc(GetProcessHeap(), 0, data, grown * recordSize);
    // As for any other allocation of the program: a record that could not be kept would let
    // the result file tell less than the run did.
    if (block == nullptr)
        ExitForFatalFailure(L"Out of memory.", ERROR_NOT_ENOUGH_MEMORY);
    capacity = grown;
    return block;
}
