ý#define R 1
#DEFINE S -2
