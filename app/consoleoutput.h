#ifndef CONSOLEOUTPUT_H
#define CONSOLEOUTPUT_H

// Standard output and error for a command given to the windowed program. On Windows the
// program has no console of its own, so what it prints would go nowhere when it is started
// from a command prompt; there it writes to the prompt's console instead, unless the output
// is redirected. Elsewhere nothing needs doing.
class ConsoleOutput
{
public:
    static void attach();
};

#endif // CONSOLEOUTPUT_H
