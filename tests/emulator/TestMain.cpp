#include <gtest/gtest.h>
#include <signal.h>

int main(int argc, char** argv) {
    // Fault tests close connections under the client's feet; a write to such a socket must
    // fail with EPIPE rather than end the test process.
    signal(SIGPIPE, SIG_IGN);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
