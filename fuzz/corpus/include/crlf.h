#define A 1
#DEFINE B	2
#Define C -3
#define D 4