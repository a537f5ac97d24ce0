/*
 * calc.y -- a small calculator language, the example grammar of kwt.
 *
 * Statements end in ';': an expression, an assignment to a one-letter
 * variable, `print expr;`, `if (expr) statement [else statement]` and
 * `{ statements }`. A bad statement is skipped up to its ';'.
 *
 * It builds with byacc and bison alike:
 *   byacc -t -v -d calc.y && cc -o calc y.tab.c && YYDEBUG=1 ./calc < input 2> trace
 *   bison -t -v -d calc.y && cc -o calc calc.tab.c && ./calc < input 2> trace
 */
%{
#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int yylex(void);
void yyerror(const char *message);

static double variables[26];
static int line_number = 1;
%}

%union {
    double value;
    int variable;
}

%token <value> NUMBER
%token <variable> IDENT
%token PRINT IF ELSE
%token EQ NE LE GE

%nonassoc EQ NE '<' '>' LE GE
%left '+' '-'
%left '*' '/' '%'
%right '^'
%right UMINUS

%type <value> expr

/* The dangling else: shifting it binds it to the nearest if. */
%expect 1

%%

program
    : statements
    ;

statements
    : statement
    | statements statement
    ;

statement
    : expr ';'                                  { printf("%g\n", $1); }
    | IDENT '=' expr ';'                        { variables[$1] = $3; }
    | PRINT expr ';'                            { printf("%g\n", $2); }
    | IF '(' expr ')' statement
    | IF '(' expr ')' statement ELSE statement
    | '{' statements '}'
    | error ';'                                 { yyerrok; }
    ;

expr
    : NUMBER
    | IDENT                                     { $$ = variables[$1]; }
    | expr '+' expr                             { $$ = $1 + $3; }
    | expr '-' expr                             { $$ = $1 - $3; }
    | expr '*' expr                             { $$ = $1 * $3; }
    | expr '/' expr                             { $$ = $3 != 0 ? $1 / $3 : 0; }
    | expr '%' expr                             { $$ = (long) $3 != 0 ? (long) $1 % (long) $3 : 0; }
    | expr '^' expr                             { double r = 1; int n = (int) $3; while (n-- > 0) r *= $1; $$ = r; }
    | expr '<' expr                             { $$ = $1 < $3; }
    | expr '>' expr                             { $$ = $1 > $3; }
    | expr LE expr                              { $$ = $1 <= $3; }
    | expr GE expr                              { $$ = $1 >= $3; }
    | expr EQ expr                              { $$ = $1 == $3; }
    | expr NE expr                              { $$ = $1 != $3; }
    | '-' expr %prec UMINUS                     { $$ = -$2; }
    | '(' expr ')'                              { $$ = $2; }
    ;

%%

/* Two-character operators; anything else is a token of its own character. */
static int two_character_token(int first, int second)
{
    static const struct { char first, second; int token; } operators[] = {
        {'=', '=', EQ}, {'!', '=', NE}, {'<', '=', LE}, {'>', '=', GE},
    };
    size_t i;
    for (i = 0; i < sizeof operators / sizeof operators[0]; ++i) {
        if (operators[i].first == first && operators[i].second == second) return operators[i].token;
    }
    return 0;
}

int yylex(void)
{
    int c;
    for (;;) {
        c = getchar();
        if (c == '\n') ++line_number;
        else if (c != ' ' && c != '\t' && c != '\r') break;
    }
    if (c == EOF) return 0;
    if (isdigit(c) || c == '.') {
        ungetc(c, stdin);
        if (scanf("%lf", &yylval.value) != 1) yylval.value = 0;
        return NUMBER;
    }
    if (isalpha(c)) {
        char word[32];
        size_t length = 0;
        do {
            if (length + 1 < sizeof word) word[length++] = (char) c;
            c = getchar();
        } while (isalnum(c));
        ungetc(c, stdin);
        word[length] = '\0';
        if (strcmp(word, "print") == 0) return PRINT;
        if (strcmp(word, "if") == 0) return IF;
        if (strcmp(word, "else") == 0) return ELSE;
        yylval.variable = tolower((unsigned char) word[0]) - 'a';
        return IDENT;
    }
    {
        int next = getchar();
        int token = two_character_token(c, next);
        if (token != 0) return token;
        ungetc(next, stdin);
    }
    return c;
}

void yyerror(const char *message)
{
    fprintf(stderr, "line %d: %s\n", line_number, message);
}

int main(void)
{
    /* bison's parsers trace when yydebug is set; byacc's when YYDEBUG=1. */
#if defined(YYBISON) && YYDEBUG
    yydebug = 1;
#endif
    return yyparse();
}
