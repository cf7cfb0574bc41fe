// corvanta-cli: the batch mode, a front end over the same core engine as the window.
#include "cli/BatchCommands.h"
#include "cli/QueryArguments.h"
#include "cli/SeriesCommand.h"
#include "query/IndexService.h"

#include <CLI/CLI.hpp>
#include <iostream>

using namespace corvanta;
using namespace corvanta::cli;

namespace {

struct CookieOptions {
    std::string text;
    std::string file;
    CLI::Option* textOption = nullptr;
    CLI::Option* fileOption = nullptr;

    void add(CLI::App& command) {
        textOption = command
                         .add_option("--cookie", text,
                                     "the Cookie header of a browser logged in to the index "
                                     "service (line breaks are joined)")
                         ->type_name("TEXT");
        fileOption = command
                         .add_option("--cookie-file", file,
                                     "a file holding the cookie (keeps it out of the process "
                                     "list and the shell history); one cookie per line to take "
                                     "several accounts in turn (# starts a comment line)")
                         ->type_name("FILE");
        textOption->excludes(fileOption);
    }
    CookieArguments arguments() const {
        CookieArguments result;
        if (textOption->count() > 0)
            result.text = text;
        if (fileOption->count() > 0)
            result.file = file;
        return result;
    }
};

void addRequestOptions(CLI::App& command, std::vector<std::string>& headers, std::string& area) {
    command
        .add_option("--header", headers,
                    "an extra request header line \"Name: value\" copied from the browser's "
                    "request to the service (for example Cipher-Text or Referer); repeatable")
        ->type_name("LINE")
        ->take_all();
    command.add_option("--area", area, "region code; 0 is the whole country")
        ->type_name("CODE")
        ->capture_default_str();
}

// The options of a run, shared by query and requery. Returns the --period option, whose
// use rules out --days and the dates.
CLI::Option* addRunOptions(CLI::App& command, QueryArguments& query) {
    CLI::Option* periodOption =
        command.add_option("--period", query.period, "days averaged: 7, 30 or 365")
            ->type_name("DAYS")
            ->capture_default_str();
    command.add_option("--days", query.days, "days averaged, any positive number")->type_name("N");
    command.add_option("--from", query.from, "first day of a date range (with --to), YYYY-MM-DD")
        ->type_name("DATE");
    command.add_option("--to", query.to, "last day of a date range (with --from)")
        ->type_name("DATE");
    command
        .add_option("--request-form", query.requestForm,
                    "plain: the keyword itself; list: the service's JSON list form")
        ->type_name("FORM")
        ->capture_default_str();
    command
        .add_option("--per-request", query.perRequest,
                    "keywords per request, 1 to 5 (list form only): fewer requests")
        ->type_name("K")
        ->capture_default_str();
    addRequestOptions(command, query.headers, query.area);
    command.add_flag("--check-words", query.checkWords,
                     "ask the service first which keywords it does not index (marked "
                     "未收录 without a query)");
    command.add_flag("--trends", query.trends, "add the year-on-year and period-on-period columns");
    command.add_option("--threads", query.threads, "requests at once, 1 to 100")
        ->type_name("N")
        ->capture_default_str();
    command
        .add_option("--endpoint", query.endpoint,
                    "the index service's address (default " + std::string(kIndexServiceBase) + ")")
        ->type_name("URL");
    command
        .add_option("--progress-every", query.progressEvery,
                    "seconds between progress lines when standard error is not a "
                    "terminal; 0: none")
        ->type_name("SECONDS")
        ->capture_default_str()
        ->check(CLI::NonNegativeNumber);
    command
        .add_option("--retries", query.retries,
                    "further tries of a row that failed (no answer, time-out, 5xx), with "
                    "growing waits")
        ->type_name("N")
        ->capture_default_str();
    command
        .add_option("--retry-wait", query.retryWait,
                    "milliseconds before the first retry; doubled for each further one")
        ->type_name("MS")
        ->capture_default_str();
    command
        .add_option("--rate", query.rate,
                    "at most R requests per second per cookie (fractions such as 0.1 "
                    "allowed); 0: no limit")
        ->type_name("R")
        ->capture_default_str();
    command
        .add_option("--rate-jitter", query.rateJitter,
                    "lengthen each gap of --rate by up to this share at random (0 to 1)")
        ->type_name("SHARE")
        ->capture_default_str();
    command
        .add_option_function<std::string>(
            "--cooldown", [&query](const std::string& value) { query.cooldown = value; },
            "a cookie that got a request block is used again after S seconds (default: never "
            "in this run)")
        ->type_name("S");
    command.add_flag("--resume", query.resume,
                     "continue a stopped run from OUT's journal (OUT.journal): rows that "
                     "have a value are not asked again");
    command.add_flag("--table", query.table,
                     "print the results table on standard output even when it is not a "
                     "terminal");
    return periodOption;
}

int fail(const std::string& message) {
    std::cerr << "corvanta-cli: " << message << std::endl;
    return ExitBadInput;
}

} // namespace

int main(int argc, char** argv) {
    CLI::App app{"Corvanta batch mode: the search-index averages of every keyword of a file.\n"
                 "Exit codes: 0 every row succeeded, 1 some rows failed, 2 bad usage or input, "
                 "3 the output could not be written, 130 stopped by Ctrl-C.",
                 "corvanta-cli"};
    app.set_version_flag("--version", std::string("corvanta-cli ") + CORVANTA_VERSION);
    app.require_subcommand(1);

    QueryArguments query;
    CookieOptions queryCookie;
    CLI::App* queryCommand =
        app.add_subcommand("query", "query every keyword of a file and write the results to OUT");
    queryCommand
        ->add_option("KEYWORDS", query.keywords,
                     "keyword file: one keyword per line (UTF-8, UTF-16 or GB18030)")
        ->type_name("FILE")
        ->required();
    queryCommand
        ->add_option("-o,--output", query.output,
                     "OUT: .txt, .csv, .xls, .xlsx or .jsonl, written by its extension; - writes "
                     "JSON Lines to standard output")
        ->type_name("OUT")
        ->required();
    queryCookie.add(*queryCommand);
    CLI::Option* periodOption = addRunOptions(*queryCommand, query);

    QueryArguments requery;
    CookieOptions requeryCookie;
    CLI::App* requeryCommand = app.add_subcommand(
        "requery", "query again the rows of an exported list that hold a failure mark or "
                   "未查询, and write the merged list");
    requeryCommand
        ->add_option("LIST", requery.keywords,
                     "a list exported by Corvanta (.txt, .csv, .xls or .xlsx)")
        ->type_name("FILE")
        ->required();
    requeryCommand
        ->add_option("-o,--output", requery.output,
                     "NEW: where the merged list goes (default: LIST itself, replaced)")
        ->type_name("NEW");
    requeryCookie.add(*requeryCommand);
    CLI::Option* requeryPeriod = addRunOptions(*requeryCommand, requery);

    SeriesArguments series;
    CookieOptions seriesCookie;
    double seriesProgressEvery = 5.0;
    CLI::App* seriesCommand = app.add_subcommand(
        "series", "fetch every keyword's daily figures over a date range and write them to OUT");
    seriesCommand
        ->add_option("KEYWORDS", series.keywords,
                     "keyword file: one keyword per line (UTF-8, UTF-16 or GB18030)")
        ->type_name("FILE")
        ->required();
    seriesCommand
        ->add_option("-o,--output", series.output,
                     "OUT: .csv, .xlsx or .jsonl, one row per keyword and day; - writes JSON "
                     "Lines to standard output")
        ->type_name("OUT")
        ->required();
    seriesCommand->add_option("--from", series.from, "first day, YYYY-MM-DD")->type_name("DATE");
    seriesCommand->add_option("--to", series.to, "last day, YYYY-MM-DD")->type_name("DATE");
    seriesCookie.add(*seriesCommand);
    addRequestOptions(*seriesCommand, series.headers, series.area);
    seriesCommand
        ->add_option("--endpoint", series.endpoint,
                     "the index service's address (default " + std::string(kIndexServiceBase) + ")")
        ->type_name("URL");
    seriesCommand
        ->add_option("--progress-every", seriesProgressEvery,
                     "seconds between progress lines; 0: none")
        ->type_name("SECONDS")
        ->capture_default_str()
        ->check(CLI::NonNegativeNumber);

    std::string cookieEndpoint;
    CookieOptions testCookie;
    CLI::App* testCommand =
        app.add_subcommand("test-cookie", "ask the index service whether a cookie is logged in");
    testCookie.add(*testCommand);
    testCommand
        ->add_option("--endpoint", cookieEndpoint,
                     "the index service's address (default " + std::string(kIndexServiceBase) + ")")
        ->type_name("URL");

    try {
        app.parse(argc, argv);
    } catch (const CLI::Success& e) {
        return app.exit(e); // --help, --version
    } catch (const CLI::ParseError& e) {
        return fail(std::string(e.what()) + " (see corvanta-cli --help)");
    }

    if (seriesCommand->parsed()) {
        series.cookie = seriesCookie.arguments();
        SeriesSettings settings;
        if (const std::string error = checkSeriesArguments(series, settings); !error.empty())
            return fail(error);
        return runSeriesCommand(settings, ReportOptions{seriesProgressEvery, false});
    }

    if (requeryCommand->parsed()) {
        requery.cookie = requeryCookie.arguments();
        requery.periodGiven = requeryPeriod->count() > 0;
        requery.requery = true;
        if (requery.output.empty())
            requery.output = requery.keywords;
        QuerySettings settings;
        if (const std::string error = checkQueryArguments(requery, settings); !error.empty())
            return fail(error);
        return runQueryCommand(settings, ReportOptions{requery.progressEvery, requery.table});
    }
    if (queryCommand->parsed()) {
        query.cookie = queryCookie.arguments();
        query.periodGiven = periodOption->count() > 0;
        QuerySettings settings;
        if (const std::string error = checkQueryArguments(query, settings); !error.empty())
            return fail(error);
        return runQueryCommand(settings, ReportOptions{query.progressEvery, query.table});
    }

    std::string error;
    const auto base = serviceBase(cookieEndpoint, error);
    if (!base)
        return fail(error);
    std::vector<int> lines;
    const auto cookies = readCookies(testCookie.arguments(), lines, error);
    if (!cookies)
        return fail(error);
    if (cookies->size() == 1)
        return runTestCookieCommand(*base, cookies->front());
    // Several accounts: each is tested, named by its line in the file, never by its text.
    int code = ExitAllSucceeded;
    for (std::size_t i = 0; i < cookies->size(); ++i) {
        std::cout << "cookie " << i + 1 << " (line " << lines[i] << "):" << std::endl;
        if (runTestCookieCommand(*base, (*cookies)[i]) != ExitAllSucceeded)
            code = ExitSomeFailed;
    }
    return code;
}
