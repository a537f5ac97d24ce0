#define A 1
#define B 2
