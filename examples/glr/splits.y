/*
 * splits.y -- a grammar that makes bison's GLR parser split its stack.
 *
 * After `p x x` the parser cannot tell `a` from `b`, and after `s x` it
 * cannot tell c1 ... c6 apart: each choice goes on in a stack of its own,
 * until the token after `y` leaves one. Its reductions, deferred while the
 * stacks were split, are then run on the way back to one stack (`Reducing
 * stack -1 by rule ...`); six stacks are more than kwt keeps apart.
 *
 *   bison -t -v -d splits.y && cc -o splits splits.tab.c
 *   ./splits < pair.in 2> trace      (two stacks)
 *   ./splits < six.in 2> trace       (six stacks; the last one is left)
 */
%{
#include <stdio.h>
int yylex(void);
void yyerror(const char *message);
%}

%glr-parser
%expect-rr 6

%%

start: 'p' pair | 's' six ;

pair: a 'y' 'b' | b 'y' 'c' ;
a: 'x' 'x'    { puts("a"); } ;
b: 'x' 'x'    { puts("b"); } ;

six: c1 'y' 'b' | c2 'y' 'c' | c3 'y' 'd' | c4 'y' 'e' | c5 'y' 'f' | c6 'y' 'g' ;
c1: 'x'       { puts("c1"); } ;
c2: 'x'       { puts("c2"); } ;
c3: 'x'       { puts("c3"); } ;
c4: 'x'       { puts("c4"); } ;
c5: 'x'       { puts("c5"); } ;
c6: 'x'       { puts("c6"); } ;

%%

/* Every character but a blank or a line feed is a token of its own. */
int yylex(void)
{
    int c;
    while ((c = getchar()) == ' ' || c == '\n') {}
    return c == EOF ? 0 : c;
}

void yyerror(const char *message) { fprintf(stderr, "%s\n", message); }

int main(void)
{
    yydebug = 1;
    return yyparse();
}
