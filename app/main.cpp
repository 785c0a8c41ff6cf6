#include <cstdio>

int main(int argc, char** argv)
{
    (void)argc;
    (void)argv;
    std::printf("Gavex Player\n");
    return 0;
}
