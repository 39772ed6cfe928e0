// The test program's own main(). Defined here so that the link takes neither
// the emulation's main() (which runs a program on a machine) nor any other.
#include <gtest/gtest.h>

int main(int argc, char **argv) {
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
