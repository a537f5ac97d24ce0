/*
 * calc.y -- a small calculator whose parser's trace says where each token
 * and each reduction's result lies in its input (bison's %locations).
 *
 * The lexer counts lines and columns from 1, a column per character (a
 * UTF-8 sequence is one, and so is a tab), and every token's value is its
 * text, which the trace prints after the location:
 *   Next token is token IDENT (3.5-9: total)
 *
 *   bison -t -v -d calc.y && cc -o calc calc.tab.c
 *   ./calc < input 2> trace && kwt trace calc.output calc.tab.h input
 */
%{
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int yylex(void);
void yyerror(const char *message);
%}

%locations
%union { char *text; }
%token <text> NUMBER IDENT PRINT
%printer { fprintf(yyo, "%s", $$); } <text>
%destructor { free($$); } <text>

%left '+' '-'
%left '*' '/'

%%

program: statements ;

statements: %empty | statements statement ;

statement
    : expr ';'
    | IDENT '=' expr ';'    { free($1); }
    | PRINT expr ';'        { free($1); }
    | error ';'             { yyerrok; }
    ;

expr
    : NUMBER                { free($1); }
    | IDENT                 { free($1); }
    | expr '+' expr
    | expr '-' expr
    | expr '*' expr
    | expr '/' expr
    | '(' expr ')'
    ;

%%

/* Where the next character stands. */
static int line = 1;
static int column = 1;

/* Reads a character and moves the position past it: a line feed to the
   next line, a byte that goes on a UTF-8 sequence nowhere. */
static int next_character(void)
{
    int c = getchar();
    if (c == '\n') {
        ++line;
        column = 1;
    } else if (c != EOF && (c & 0xC0) != 0x80) {
        ++column;
    }
    return c;
}

static int is_word_character(int c)
{
    return c == '_' || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           c >= 0x80;
}

int yylex(void)
{
    char text[256];
    size_t length = 0;
    int c = next_character();
    while (c == ' ' || c == '\t' || c == '\r' || c == '\n') c = next_character();
    yylloc.first_line = line;
    yylloc.first_column = column - 1;
    if (c == EOF) return 0;
    text[length++] = (char) c;
    if (is_word_character(c)) {
        while (is_word_character(c = getchar())) {
            if ((c & 0xC0) != 0x80) ++column;
            if (length + 1 < sizeof text) text[length++] = (char) c;
        }
        ungetc(c, stdin);
    }
    text[length] = '\0';
    yylloc.last_line = line;
    yylloc.last_column = column;
    if (length > 1 || is_word_character(text[0] & 0xFF)) {
        yylval.text = strdup(text);
        if (strcmp(text, "print") == 0) return PRINT;
        return text[0] >= '0' && text[0] <= '9' ? NUMBER : IDENT;
    }
    return text[0];
}

void yyerror(const char *message)
{
    fprintf(stderr, "%d.%d: %s\n", yylloc.first_line, yylloc.first_column, message);
}

int main(void)
{
    yydebug = 1;
    return yyparse();
}
