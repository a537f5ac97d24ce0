#define HEX 0x10
#define NEG -5 /* c */
#DEFINE	UPPER 7
