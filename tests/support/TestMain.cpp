// Entry of every Windows test binary: resources are loaded through the test binary itself,
// and arguments that GoogleTest does not know are kept for the tests.
#include <gtest/gtest.h>

#include "AppState.h"
#include "TestFiles.h"

int wmain(int argc, wchar_t** argv)
{
    instanceHandle = GetModuleHandleW(nullptr);
    testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i < argc; ++i)
        testArguments.push_back(argv[i]);
    return RUN_ALL_TESTS();
}
