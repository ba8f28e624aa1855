#include <string>
#include <string_view>

#include "check.h"
#include "pure/text/decimal.h"

using zembra::Buffer;
using zembra::Decimal;
using zembra::u128;
using namespace zembra::text;

namespace {

constexpr DecimalMode kExact = DecimalMode::Exact;
constexpr DecimalMode kRound = DecimalMode::Rounding;
constexpr DecimalMode kBoth[] = {kExact, kRound};

// The formatted value, or the error message.
std::string outcome(std::string_view text, DecimalMode mode) {
  auto r = parse_decimal(text, mode);
  if (!r) return std::string(message(r.error()));
  Buffer b;
  format_decimal(*r, b);
  return b.str();
}

std::string formatted(u128 mantissa, unsigned scale, bool negative) {
  Decimal d;
  d.mantissa = mantissa;
  d.scale = static_cast<std::uint8_t>(scale);
  d.negative = negative;
  Buffer b;
  format_decimal(d, b);
  return b.str();
}

bool check_case(std::string_view text, DecimalMode mode, std::string_view expected) {
  std::string got = outcome(text, mode);
  if (got == expected) return true;
  std::printf("  [%s] %.*s: got %s, expected %.*s\n", mode == kExact ? "exact" : "round",
              static_cast<int>(text.size()), text.data(), got.c_str(),
              static_cast<int>(expected.size()), expected.data());
  return false;
}

struct Case {
  const char* text;
  DecimalMode mode;
  const char* expected;
};

}  // namespace

TEST_CASE("decimal: syntax corner cases read the same in both modes") {
  struct Row {
    const char* text;
    const char* expected;
  };
  const Row rows[] = {
      {"", "Invalid decimal: empty"},
      {"-", "Invalid decimal: no digits found"},
      {"+", "Invalid decimal: no digits found"},
      {".", "Invalid decimal: no digits found"},
      {"+.", "Invalid decimal: no digits found"},
      {"-.", "Invalid decimal: no digits found"},
      {"._", "Invalid decimal: no digits found"},
      {"_1", "Invalid decimal: must start lead with a number"},
      {"-_1", "Invalid decimal: must start lead with a number"},
      {"_", "Invalid decimal: must start lead with a number"},
      {"+-1", "Invalid decimal: must start lead with a number"},
      {"--1", "Invalid decimal: must start lead with a number"},
      {" 1", "Invalid decimal: must start lead with a number"},
      {"NaN", "Invalid decimal: must start lead with a number"},
      {"-Infinity", "Invalid decimal: must start lead with a number"},
      {"1.2.3", "Invalid decimal: two decimal points"},
      {"..", "Invalid decimal: two decimal points"},
      {"1..", "Invalid decimal: two decimal points"},
      {"1e3", "Invalid decimal: unknown character"},
      {"1E-7", "Invalid decimal: unknown character"},
      {"1E+2", "Invalid decimal: unknown character"},
      {"1 ", "Invalid decimal: unknown character"},
      {"1-", "Invalid decimal: unknown character"},
      {"0x1", "Invalid decimal: unknown character"},
      {"1.5a", "Invalid decimal: unknown character"},
      {".a", "Invalid decimal: unknown character"},
      {"1.2x.", "Invalid decimal: unknown character"},
      {"1.2.x", "Invalid decimal: two decimal points"},
      {"1\xC3\xA9", "Invalid decimal: unknown character"},
      {"1_", "1"},
      {"1__2", "12"},
      {"1_.5", "1.5"},
      {"._5", "0.5"},
      {".5_", "0.5"},
      {".5", "0.5"},
      {"5.", "5"},
      {"-0.00", "-0.00"},
      {"+0", "0"},
      {"0.1", "0.1"},
      {"1.50", "1.50"},
      {"-12.034", "-12.034"},
      {"000000000000000000000000000000000000000001.0", "1.0"},
      {"1_000_000", "1000000"},
      {"79228162514264337593543950335", "79228162514264337593543950335"},
      {"79228162514264337593543950336", "Invalid decimal: overflow from too many digits"},
      {"100000000000000000000000000000.", "Invalid decimal: overflow from too many digits"},
      {"99999999999999999999999999999999x", "Invalid decimal: overflow from too many digits"},
  };
  for (const Row& row : rows)
    for (DecimalMode mode : kBoth) CHECK(check_case(row.text, mode, row.expected));
  // A NUL inside the text is an ordinary unknown character.
  for (DecimalMode mode : kBoth)
    CHECK(check_case(std::string_view("1\0", 2), mode, "Invalid decimal: unknown character"));
}

TEST_CASE("decimal: long fractions, exact versus rounding") {
  const Case rows[] = {
      {"1.0000000000000000000000000000", kExact, "1.0000000000000000000000000000"},
      {"1.00000000000000000000000000000", kExact, "Number has a high precision that can not be represented."},
      {"1.00000000000000000000000000000", kRound, "1.0000000000000000000000000000"},
  };
  for (const Case& c : rows) CHECK(check_case(c.text, c.mode, c.expected));

  const std::string kept = "0." + std::string(27, '1') + "2";  // 28 fraction digits
  const std::string up = "0." + std::string(27, '1') + "3";
  const char* kUnknown = "Invalid decimal: unknown character";
  const char* kTwoPoints = "Invalid decimal: two decimal points";
  const Case tails[] = {
      // The first dropped digit rounds half up; the rest is still read and
      // must be digits or separators, which change nothing.
      {"5", kRound, up.c_str()},
      {"4999", kRound, kept.c_str()},
      {"5000", kRound, up.c_str()},
      {"_9", kRound, up.c_str()},
      {"_", kRound, kept.c_str()},
      {"4_9_", kRound, kept.c_str()},
      // Anything else fails as it would before the cut.
      {"5abc", kRound, kUnknown},
      {"1E+5", kRound, kUnknown},
      {"0E+5", kRound, kUnknown},
      {"9 ", kRound, kUnknown},
      {"1xyz", kRound, kUnknown},
      {"4.", kRound, kTwoPoints},
      {"40.1", kRound, kTwoPoints},
      {"_", kRound, kept.c_str()},
      {".", kRound, kTwoPoints},
      {"x", kRound, kUnknown},
      // The exact reader skips separators and reads on.
      {"_", kExact, kept.c_str()},
      {"__", kExact, kept.c_str()},
      {"_5", kExact, "Number has a high precision that can not be represented."},
      {"0", kExact, "Number has a high precision that can not be represented."},
      {".", kExact, kTwoPoints},
      {"x", kExact, kUnknown},
  };
  for (const Case& c : tails) CHECK(check_case(kept + c.text, c.mode, c.expected));
  CHECK(check_case(kept + std::string("4\0", 2), kRound, kUnknown));

  // The cut where the mantissa is full rather than the scale.
  const std::string full = "7922816251426433759354395033";  // 2^96 - 1 without its last digit
  const Case wide[] = {
      {".54", kRound, "7922816251426433759354395033.5"},
      {".54_1", kRound, "7922816251426433759354395033.5"},
      {".59", kRound, "7922816251426433759354395034"},
      {".54x", kRound, kUnknown},
      {".59 ", kRound, kUnknown},
      {"5.5", kRound, "Invalid decimal: overflow from mantissa after rounding"},
      {"5.5.", kRound, kTwoPoints},
  };
  for (const Case& c : wide) CHECK(check_case(full + c.text, c.mode, c.expected));
}

TEST_CASE("decimal: texts cross-checked with the interpreter's decimal module") {
  // Generated once from decimal.Decimal (quantized with ROUND_HALF_UP where
  // the rounding reader drops digits).
  const Case rows[] = {
    {"-95054993966601.229414169143709", kRound, "-95054993966601.22941416914371"},
    {"-1.8030654", kExact, "-1.8030654"},
    {"+1.32793188910", kExact, "1.32793188910"},
    {"7755392.5581987033", kExact, "7755392.5581987033"},
    {"+528.2764294", kExact, "528.2764294"},
    {"-304526806207310335644.6_7174_4_49432", kRound, "-304526806207310335644.67174449"},
    {"-7407056879_36_6483_0_761_3117_642782.9749634476", kExact, "Invalid decimal: overflow from too many digits"},
    {"-285722184020209858615.59597299286238856538071115851257", kExact, "Number has a high precision that can not be represented."},
    {"5.2201", kExact, "5.2201"},
    {"11572884010.170243996463731514", kRound, "11572884010.170243996463731514"},
    {"+861687597168169_4_2.1", kRound, "86168759716816942.1"},
    {"87.3218603", kExact, "87.3218603"},
    {"-944710350479947005437418.395211_017_32", kRound, "-944710350479947005437418.3952"},
    {"+4.40", kExact, "4.40"},
    {"-286485796301.6379_977_12344", kExact, "-286485796301.637997712344"},
    {"1905042156.9382", kRound, "1905042156.9382"},
    {"8302.0682480", kRound, "8302.0682480"},
    {"-707811203087544017237536844834.13371952001807787980175171234", kExact, "Invalid decimal: overflow from too many digits"},
    {"-35907106", kRound, "-35907106"},
    {"10494687496.103", kRound, "10494687496.103"},
    {"53_1_77_11058.48297688967", kRound, "5317711058.48297688967"},
    {"839398728844", kExact, "839398728844"},
    {"555136840676.01_754_1641", kExact, "555136840676.017541641"},
    {"623_44777.021780499", kRound, "62344777.021780499"},
    {"12_716533.7347230690932595339", kRound, "12716533.7347230690932595339"},
    {"3.6299594881447212799528823373", kExact, "3.6299594881447212799528823373"},
    {"6298790.0569360541621624177313071", kRound, "6298790.0569360541621624177313"},
    {"2475_3375277.", kRound, "24753375277"},
    {"-51359.4471", kExact, "-51359.4471"},
    {"044.606", kRound, "44.606"},
    {"091837158.2569398", kRound, "91837158.2569398"},
    {"4776477773.51185750057", kExact, "4776477773.51185750057"},
    {"0199679735.2", kRound, "199679735.2"},
    {"-0.51366996382", kRound, "-0.51366996382"},
    {"+10968072643824.1", kRound, "10968072643824.1"},
    {"+99.107769978", kExact, "99.107769978"},
    {"0927297183.78", kRound, "927297183.78"},
    {"8.47", kRound, "8.47"},
    {"-86839903599866357061145559255.0396099504933898568", kRound, "Invalid decimal: overflow from too many digits"},
    {"+0_807_87623_52", kExact, "8078762352"},
    {"4929276635325455323.53229887445", kRound, "4929276635325455323.5322988745"},
    {"129_017_80986709.219401040199736", kExact, "12901780986709.219401040199736"},
    {"-15631772.82610149504105461", kExact, "-15631772.82610149504105461"},
    {"-5859619175480915429006.55211321599", kExact, "Number has a high precision that can not be represented."},
    {"+693314425.43467_17_1_711_1070151991", kRound, "693314425.43467171711107015199"},
    {"38491734.077265869707240816402219", kRound, "38491734.077265869707240816402"},
    {"341783651847.2100759", kExact, "341783651847.2100759"},
    {"+111748392262.9_2", kRound, "111748392262.92"},
    {"927.64808415264", kRound, "927.64808415264"},
    {"2132_8_6.81067157735392245054696362", kExact, "Number has a high precision that can not be represented."},
    {"+724135643654.3012219214157872020", kExact, "Number has a high precision that can not be represented."},
    {"56900178548.4022012277628128018", kRound, "56900178548.402201227762812802"},
    {"+62003872.404823337504", kExact, "62003872.404823337504"},
    {"8499645720213786.3977314276074827382", kExact, "Number has a high precision that can not be represented."},
    {"+7.704286061", kRound, "7.704286061"},
    {"155880.4", kRound, "155880.4"},
    {"+5.904", kExact, "5.904"},
    {"+8386407.834142378103335429325705", kExact, "Number has a high precision that can not be represented."},
    {"765888940.37738", kExact, "765888940.37738"},
    {"671918034679.99747505", kRound, "671918034679.99747505"},
    {"740.1", kRound, "740.1"},
    {".02_24757931_3_516591_7_409_6925151_45_5", kExact, "Number has a high precision that can not be represented."},
    {"58_859.638", kExact, "58859.638"},
    {"8_038.36574621", kRound, "8038.36574621"},
    {"4280007333.26736067", kExact, "4280007333.26736067"},
    {"156871.5", kExact, "156871.5"},
    {"-177.94220758633569929635751", kExact, "-177.94220758633569929635751"},
    {"3615.0335719886", kExact, "3615.0335719886"},
    {"3098.412768258112779271257124106", kRound, "3098.4127682581127792712571241"},
    {"374062305024332303.12478297557", kRound, "374062305024332303.12478297557"},
    {"+00912374239069.5778685831370679602025991680", kExact, "Number has a high precision that can not be represented."},
    {"-51541017476722230364493364237.09355344314936529238", kRound, "-51541017476722230364493364237"},
    {"6930947999400644668287991.33", kRound, "6930947999400644668287991.33"},
    {"-446.304139523623", kRound, "-446.304139523623"},
    {"-6014988998381.6247405774706524662888", kExact, "Number has a high precision that can not be represented."},
    {"20904.", kExact, "20904"},
    {"+33889186.1458237", kRound, "33889186.1458237"},
    {"875326245954123353608.2450328272", kExact, "Number has a high precision that can not be represented."},
    {".8411691487365481", kExact, "0.8411691487365481"},
    {"-6748115.352261615", kRound, "-6748115.352261615"},
    {"+8691574.1_44_7", kRound, "8691574.1447"},
    {"4503345270.6693834208_7402_717833_75", kExact, "Number has a high precision that can not be represented."},
    {"-7", kRound, "-7"},
    {"+69409360089.04111", kExact, "69409360089.04111"},
    {"4190_9.7439322175", kRound, "41909.7439322175"},
    {"69965795357.05114836094", kRound, "69965795357.05114836094"},
    {"91431_13708704023775_6_3206", kExact, "914311370870402377563206"},
    {"+2763129_9_45834979_46102725_5215.54705503751181950749", kExact, "Number has a high precision that can not be represented."},
    {"-59031695344109.771_523_33938246_03", kExact, "Number has a high precision that can not be represented."},
    {"-80752524.07677019222", kExact, "-80752524.07677019222"},
    {"-4422069577677172552405328958.61_82", kRound, "-4422069577677172552405328958.6"},
    {"+.5401784150141067504", kRound, "0.5401784150141067504"},
    {"+717697.1611414164", kExact, "717697.1611414164"},
    {"-588.3897706", kExact, "-588.3897706"},
    {"-979596.017146037757651181123010548738", kExact, "Number has a high precision that can not be represented."},
    {"19_3_999668.51109", kRound, "193999668.51109"},
    {"193382313857107723.7565979412900551160035095", kExact, "Number has a high precision that can not be represented."},
    {"+79_249_59925_94332754_92_9.096946122", kRound, "792495992594332754929.0969461"},
    {"-49565161_0_32813461_579_3_9_0.4607106617330", kExact, "Number has a high precision that can not be represented."},
    {"65_1942469.3501337121547894911371", kRound, "651942469.35013371215478949114"},
    {"976.493762", kExact, "976.493762"},
    {"18.500898706729916238698035773", kRound, "18.500898706729916238698035773"},
    {"+1685.957203247260", kRound, "1685.957203247260"},
    {"3618017282.20_6_158_0180", kRound, "3618017282.2061580180"},
    {"2044177293891084453042444275.8", kExact, "2044177293891084453042444275.8"},
    {"13556066698480491124224461615.8796066162548", kRound, "13556066698480491124224461616"},
    {"-3039304.980819378443172096163155", kRound, "-3039304.9808193784431720961632"},
    {"041214840.0", kRound, "41214840.0"},
    {"+68933204_2_252.961368", kRound, "689332042252.961368"},
    {"751889.5551142918201951996978976666", kRound, "751889.55511429182019519969790"},
    {"159352335.634556469008416303218", kRound, "159352335.63455646900841630322"},
    {"382.390198", kExact, "382.390198"},
    {"64344624169532597.1596898245273752936", kRound, "64344624169532597.159689824527"},
    {"41_66.90554117", kRound, "4166.90554117"},
    {"8.2_86850_06", kExact, "8.28685006"},
    {"571_7301690229998_749.65314658300497691962367003922118", kRound, "5717301690229998749.6531465830"},
    {"+982418.852708", kExact, "982418.852708"},
    {"64290303578566.6159163169989383", kExact, "Number has a high precision that can not be represented."},
    {"-731073432080.895_1_1_54720_86348_9_927_77368", kExact, "Number has a high precision that can not be represented."},
    {"899114961482.10496", kExact, "899114961482.10496"},
    {"+4541568850.20_493334", kExact, "4541568850.20493334"},
    {"-281220757.69996", kRound, "-281220757.69996"},
    {"6078.023", kExact, "6078.023"},
    {"007.6642552", kExact, "7.6642552"},
    {"35950465.3618525075326763318563", kRound, "35950465.361852507532676331856"},
    {"+58266210.451127802", kExact, "58266210.451127802"},
    {"+1062539648459.2451819204132887438", kExact, "Number has a high precision that can not be represented."},
    {"5667194460147023718.43574760554", kRound, "5667194460147023718.4357476055"},
    {"808.7078", kExact, "808.7078"},
    {"-115588312222", kRound, "-115588312222"},
    {"+1176188198.80101813", kRound, "1176188198.80101813"},
    {"-7528476882415440953569.98_7273707", kExact, "Number has a high precision that can not be represented."},
    {"57100748112719806352326862.20759413198527555153919649793", kExact, "Number has a high precision that can not be represented."},
    {"+818531493.4544561225", kExact, "818531493.4544561225"},
    {"6716767035717804657.7493780030249", kRound, "6716767035717804657.7493780030"},
    {"97267781231400771621.80396616648654386607", kRound, "97267781231400771621.80396617"},
    {"809695372.674", kRound, "809695372.674"},
    {"+3581795.52_3_61_0_6_9_1_2_020_91_23_193995", kExact, "Number has a high precision that can not be represented."},
    {"136.12_6838", kRound, "136.126838"},
    {"-8.196933542173513371476231641428", kExact, "Number has a high precision that can not be represented."},
    {"01864_50_3_04.1_04_15113", kRound, "186450304.10415113"},
    {"40859751.12", kRound, "40859751.12"},
    {"-8495271401.97423684058", kRound, "-8495271401.97423684058"},
    {"16050207.146307571", kRound, "16050207.146307571"},
    {"4767.095759594252", kRound, "4767.095759594252"},
    {"4953910437518519.0015374514741", kExact, "4953910437518519.0015374514741"},
    {"8_65529.650406912745384631224551662351334", kExact, "Number has a high precision that can not be represented."},
    {"+3534785966.34598411010", kRound, "3534785966.34598411010"},
    {"+512_3_482_76_553511083942398_1_7.5525", kRound, "51234827655351108394239817.553"},
    {"-04405517.1", kExact, "-4405517.1"},
    {"-6053747183.9472529527", kExact, "-6053747183.9472529527"},
    {"521.73325057680_46_658_98_06_67555_03", kExact, "Number has a high precision that can not be represented."},
    {"979418.177", kRound, "979418.177"},
    {"467243272998129844285206690.81", kRound, "467243272998129844285206690.81"},
    {"8509629.4106580084", kExact, "8509629.4106580084"},
    {"+2979631954.454506", kRound, "2979631954.454506"},
    {"43_83108_0_89913881.2_85_8_3141933405", kExact, "Number has a high precision that can not be represented."},
    {"+070.498", kRound, "70.498"},
    {"+72799910838.2", kExact, "72799910838.2"},
    {"-935561966932633569", kRound, "-935561966932633569"},
    {"-8624.95", kExact, "-8624.95"},
    {"56387282.4_8898_15129922590315", kRound, "56387282.4889815129922590315"},
    {"-526914580720.200", kRound, "-526914580720.200"},
    {"51_1_16078050_46_56633525.678188228", kExact, "Number has a high precision that can not be represented."},
    {"-27_5869_32_3.160", kRound, "-275869323.160"},
    {"-8985351250443277.327133936", kExact, "-8985351250443277.327133936"},
    {".65477556752573482045", kRound, "0.65477556752573482045"},
    {"08241857539.92913542242", kExact, "8241857539.92913542242"},
    {"208459695929.9", kRound, "208459695929.9"},
    {"-0195915494.681957453563", kRound, "-195915494.681957453563"},
    {"-177354750053.51435369", kExact, "-177354750053.51435369"},
    {"+193_4009.031", kExact, "1934009.031"},
    {"-67_561_735943_1.6", kExact, "-675617359431.6"},
    {"-950827578.674902141", kExact, "-950827578.674902141"},
    {"550337922.01264718155822817300", kExact, "550337922.01264718155822817300"},
    {"+64267530688946287770547110.35827084968623173439900", kRound, "64267530688946287770547110.358"},
    {"8138.782793085", kExact, "8138.782793085"},
    {"-093.0_4_49", kRound, "-93.0449"},
    {"186369.29512742061445", kExact, "186369.29512742061445"},
    {"+6503_16_57.306542002262281", kExact, "65031657.306542002262281"},
    {"+33_422965_36_2003_054565560532316_9.7663845657913981", kRound, "Invalid decimal: overflow from too many digits"},
    {"+6_66883316_989314830_73548_4_396.49", kRound, "666883316989314830735484396.49"},
    {"-155674124830971241282901.761418", kRound, "-155674124830971241282901.76142"},
    {"+16437634.741", kRound, "16437634.741"},
    {"+26119994594410815809745.33587873", kRound, "26119994594410815809745.335879"},
    {"26326.071492393699289853540546192", kExact, "Number has a high precision that can not be represented."},
    {"+186294.9492864450077", kExact, "186294.9492864450077"},
    {"38.72499912615338", kExact, "38.72499912615338"},
    {"+186567140.6839_8_4_034_67_85_559717_0_7", kRound, "186567140.68398403467855597171"},
    {"+946677497809.672774881587", kRound, "946677497809.672774881587"},
    {"-94617805978183622686173129.4_01_4", kRound, "-94617805978183622686173129.40"},
    {"+65737825959094825556969328157.00594791", kRound, "65737825959094825556969328157"},
    {"9569414.690842425", kRound, "9569414.690842425"},
    {"+8450042.4150741", kRound, "8450042.4150741"},
    {"0639018.20889606", kRound, "639018.20889606"},
    {"945422153269755201.717116289517205", kExact, "Number has a high precision that can not be represented."},
    {"-3_880_43.7531714_28503_008321423_76", kExact, "-388043.75317142850300832142376"},
    {"277360_9_33699.3643", kRound, "277360933699.3643"},
    {"76436", kExact, "76436"},
    {"+44334.4332024055797177644299734210", kExact, "Number has a high precision that can not be represented."},
    {"-406947677366997114349765.056935150986257", kRound, "-406947677366997114349765.05694"},
    {"-371401290.37749369782550363982473", kExact, "Number has a high precision that can not be represented."},
    {"+139_4_9926952_331.184366176_598_29_0486", kExact, "Number has a high precision that can not be represented."},
    {"69794071.155271716860607308856", kExact, "69794071.155271716860607308856"},
    {"4705.515", kExact, "4705.515"},
    {"+40809449743361966181567290575.2187243390", kRound, "40809449743361966181567290575"},
    {"3039876.202321_42928725_4_51792851066_4_88436_6", kRound, "3039876.2023214292872545179285"},
    {"+23672517966515486.452808265", kExact, "23672517966515486.452808265"},
    {"87.09030478793245", kRound, "87.09030478793245"},
    {"-92509617544391.523965742293058842930661307", kRound, "-92509617544391.52396574229306"},
    {"+39291648407.29_27", kRound, "39291648407.2927"},
    {"32952368264957418582016828.542", kRound, "32952368264957418582016828.542"},
    {"287061_275_71_90728635.3081883614120", kRound, "2870612757190728635.3081883614"},
    {"892_8789_7_63967206683932_21.4298205603053599063834087", kExact, "Number has a high precision that can not be represented."},
    {"+03665.8327151262", kRound, "3665.8327151262"},
    {"300.899965", kExact, "300.899965"},
    {"3404392721922360782795069.00571511305074214871556", kRound, "3404392721922360782795069.0057"},
    {"-66888402566.30937120672", kExact, "-66888402566.30937120672"},
    {"67010986141331.2007680919716126", kRound, "67010986141331.200768091971613"},
    {"63354.98697308", kRound, "63354.98697308"},
    {"-5128.777336091", kExact, "-5128.777336091"},
    {"9676.07", kRound, "9676.07"},
    {"71008.713708158352369423002540326633662", kExact, "Number has a high precision that can not be represented."},
    {"-3025659.1_1_7258", kRound, "-3025659.117258"},
    {"0931_85762_6_1.6841931227", kRound, "9318576261.6841931227"},
    {"2988326490064", kRound, "2988326490064"},
    {"-704570953297422207.533208539097", kExact, "Number has a high precision that can not be represented."},
    {"509.7091", kExact, "509.7091"},
    {"63122996748.95485", kRound, "63122996748.95485"},
    {"57953469269798252111121116.7116", kRound, "57953469269798252111121116.712"},
    {"7371489894092760277627.6480246083", kExact, "Number has a high precision that can not be represented."},
    {"77336957721954532173590530", kRound, "77336957721954532173590530"},
    {"+1_85_69_1096_31910.3253780369078248", kRound, "18569109631910.325378036907825"},
    {"1011", kRound, "1011"},
    {"-1016394417368.2_778_67_8199_808460_50", kExact, "Number has a high precision that can not be represented."},
    {"-7_7777_692_29.77722992", kRound, "-7777769229.77722992"},
    {"-76.691", kRound, "-76.691"},
    {".6_89_39405512060_2725_34904165_9_6", kExact, "0.6893940551206027253490416596"},
    {"789469251223531352478951490989.33000764", kExact, "Invalid decimal: overflow from too many digits"},
    {"92839265.4088723125260343789107332", kExact, "Number has a high precision that can not be represented."},
    {"+010799428.897_60292", kExact, "10799428.89760292"},
    {"9352.0626094310022116603168652446", kExact, "Number has a high precision that can not be represented."},
    {"602259126321452.05241216121947050", kExact, "Number has a high precision that can not be represented."},
    {"+723875736100721395819597167.0399957926463248228", kRound, "723875736100721395819597167.04"},
    {"430250.5688304890449149126004", kExact, "430250.5688304890449149126004"},
    {"96381737.33193077206", kRound, "96381737.33193077206"},
    {"4520.8563972109", kExact, "4520.8563972109"},
    {"+79_858_1281884.215", kRound, "798581281884.215"},
    {"+6118750688457273.239412534866506560346288598509269", kExact, "Number has a high precision that can not be represented."},
    {"2248052.3968704_2", kExact, "2248052.39687042"},
    {"+9273518.3624320607868569344", kExact, "9273518.3624320607868569344"},
    {"892.45", kExact, "892.45"},
    {"1157.596602567966326727346476999", kExact, "Number has a high precision that can not be represented."},
    {"-604604.799", kExact, "-604604.799"},
    {"72307919.444534_52_385_2_511_5908_348788_82410_848", kRound, "72307919.444534523852511590835"},
    {"-7_529101_3.03", kRound, "-75291013.03"},
    {"+5754018.06", kRound, "5754018.06"},
    {"+238847349492.288", kExact, "238847349492.288"},
    {"-62004_9910.9825301", kExact, "-620049910.9825301"},
    {"-7817518108.6", kExact, "-7817518108.6"},
    {"-93240950.7516927", kRound, "-93240950.7516927"},
    {"094603.4013443", kRound, "94603.4013443"},
    {"0570667.97355", kRound, "570667.97355"},
    {"-4466159.4332", kRound, "-4466159.4332"},
    {"-1906450414817668144412660732.6", kRound, "-1906450414817668144412660732.6"},
    {"383862.055_5194589", kExact, "383862.0555194589"},
    {"+19_7", kExact, "197"},
    {"+462311.919117784410832166267785", kRound, "462311.91911778441083216626779"},
    {"440906.7_2355_7_1547_1_47_76_9663148", kRound, "440906.7235571547147769663148"},
    {"7522.04150744_487", kExact, "7522.04150744487"},
    {"79228162514264337593543950335", kExact, "79228162514264337593543950335"},
    {"79228162514264337593543950335", kRound, "79228162514264337593543950335"},
    {"79228162514264337593543950336", kExact, "Invalid decimal: overflow from too many digits"},
    {"79228162514264337593543950336", kRound, "Invalid decimal: overflow from too many digits"},
    {"7922816251426433759354395033.5", kExact, "7922816251426433759354395033.5"},
    {"7922816251426433759354395033.5", kRound, "7922816251426433759354395033.5"},
    {"7922816251426433759354395033.6", kExact, "Number has a high precision that can not be represented."},
    {"7922816251426433759354395033.6", kRound, "7922816251426433759354395034"},
    {"79228162514264337593543950335.5", kExact, "Number has a high precision that can not be represented."},
    {"79228162514264337593543950335.5", kRound, "Invalid decimal: overflow from mantissa after rounding"},
    {"79228162514264337593543950335.4", kExact, "Number has a high precision that can not be represented."},
    {"79228162514264337593543950335.4", kRound, "79228162514264337593543950335"},
    {"7.9228162514264337593543950335", kExact, "7.9228162514264337593543950335"},
    {"7.9228162514264337593543950335", kRound, "7.9228162514264337593543950335"},
    {"7.92281625142643375935439503355", kExact, "Number has a high precision that can not be represented."},
    {"7.92281625142643375935439503355", kRound, "7.922816251426433759354395034"},
    {"0.0000000000000000000000000001", kExact, "0.0000000000000000000000000001"},
    {"0.0000000000000000000000000001", kRound, "0.0000000000000000000000000001"},
    {"0.00000000000000000000000000005", kExact, "Number has a high precision that can not be represented."},
    {"0.00000000000000000000000000005", kRound, "0.0000000000000000000000000001"},
    {"0.00000000000000000000000000004", kExact, "Number has a high precision that can not be represented."},
    {"0.00000000000000000000000000004", kRound, "0.0000000000000000000000000000"},
    {"0.00000000000000000000000000000", kExact, "Number has a high precision that can not be represented."},
    {"0.00000000000000000000000000000", kRound, "0.0000000000000000000000000000"},
    {"-0.99999999999999999999999999995", kExact, "Number has a high precision that can not be represented."},
    {"-0.99999999999999999999999999995", kRound, "-1.0000000000000000000000000000"},
    {"9.99999999999999999999999999995", kExact, "Number has a high precision that can not be represented."},
    {"9.99999999999999999999999999995", kRound, "10.000000000000000000000000000"},
    {"-7.92281625142643375935439503354999", kExact, "Number has a high precision that can not be represented."},
    {"-7.92281625142643375935439503354999", kRound, "-7.9228162514264337593543950335"},
  };
  int failed = 0;
  for (const Case& c : rows)
    if (!check_case(c.text, c.mode, c.expected)) ++failed;
  CHECK_EQ(failed, 0);
}

TEST_CASE("decimal: plain text output") {
  constexpr u128 kMax = Decimal::kMaxMantissa;
  CHECK_EQ(formatted(0, 2, false), "0.00");
  CHECK_EQ(formatted(5, 3, false), "0.005");
  CHECK_EQ(formatted(150, 2, false), "1.50");
  CHECK_EQ(formatted(150, 0, true), "-150");
  CHECK_EQ(formatted(0, 0, true), "-0");
  CHECK_EQ(formatted(1, 28, true), "-0.0000000000000000000000000001");
  CHECK_EQ(formatted(kMax, 0, false), "79228162514264337593543950335");
  CHECK_EQ(formatted(kMax, 28, true), "-7.9228162514264337593543950335");
  CHECK_EQ(formatted(kMax, 29, false), "0.79228162514264337593543950335");
  CHECK(formatted(kMax, 28, true).size() <= kMaxDecimalTextSize);
  CHECK(formatted(1, 28, true).size() <= kMaxDecimalTextSize);
  // Out-of-range values are still written exactly.
  CHECK_EQ(formatted(~u128(0), 0, false), "340282366920938463463374607431768211455");
  CHECK_EQ(formatted(12, 40, false), "0.0000000000000000000000000000000000000012");
  // Appends to what the buffer holds.
  Buffer b;
  b.append("x=");
  Decimal d;
  d.mantissa = 7;
  format_decimal(d, b);
  CHECK_EQ(b.str(), "x=7");
}

TEST_CASE("decimal: digit count at every power of ten") {
  u128 p = 1;
  for (unsigned k = 1; k <= 38; ++k) {
    Decimal below, at;
    below.mantissa = p * 10 - 1;  // k nines
    at.mantissa = p * 10;         // 1 and k zeros
    CHECK_EQ(decimal_digit_count(below), k);
    CHECK_EQ(decimal_digit_count(at), k + 1);
    p *= 10;
  }
  Decimal zero, one;
  one.mantissa = 1;
  CHECK_EQ(decimal_digit_count(zero), 1u);
  CHECK_EQ(decimal_digit_count(one), 1u);
  Decimal max;
  max.mantissa = ~u128(0);
  CHECK_EQ(decimal_digit_count(max), 39u);
}

TEST_CASE("decimal: scientific text expanded like format(value, 'f')") {
  struct Row {
    const char* text;
    const char* plain;  // format(Decimal(text), "f")
  };
  const Row rows[] = {
    {"1E+2", "100"},
    {"1.50E+3", "1500"},
    {"-1E-7", "-0.0000001"},
    {"1.5E-7", "0.00000015"},
    {"0E-10", "0.0000000000"},
    {"0E+3", "0"},
    {"-0E+3", "-0"},
    {"-0E-10", "-0.0000000000"},
    {"1.234E+1", "12.34"},
    {"9.99E-7", "0.000000999"},
    {"1E+28", "10000000000000000000000000000"},
    {"7.9228162514264337593543950335E+28", "79228162514264337593543950335"},
    {"7.9228162514264337593543950336E+28", "79228162514264337593543950336"},
    {"1E+29", "100000000000000000000000000000"},
    {"1E-28", "0.0000000000000000000000000001"},
    {"1E-29", "0.00000000000000000000000000001"},
    {"5E-29", "0.00000000000000000000000000005"},
    {"1.23456789012345678901234567890123456789E+10", "12345678901.2345678901234567890123456789"},
    {"1E-40", "0.0000000000000000000000000000000000000001"},
    {"1.5E-40", "0.00000000000000000000000000000000000000015"},
    {"0E-40", "0.0000000000000000000000000000000000000000"},
    {"-9.999999999999999999999999999999E-1", "-0.9999999999999999999999999999999"},
    {"1.0E+1", "10"},
    {"1.5e+3", "1500"},
    {"+2E+2", "200"},
    {"1.E+2", "100"},
    {".5E+1", "5"},
    {"0.00E+5", "0"},
    {"1E+100", "10000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"},
    {"1E-100", "0.0000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000001"},
    {"12345678901234567890123456789012345E-20", "123456789012345.67890123456789012345"},
    {"4.63951277996445748708E-36", "0.00000000000000000000000000000000000463951277996445748708"},
    {"-6.135241E+19", "-61352410000000000000"},
    {"-4.54710E-15", "-0.00000000000000454710"},
    {"4.421703276944032509908319267E+29", "442170327694403250990831926700"},
    {"-3.4210759272019480613610140E-28", "-0.00000000000000000000000000034210759272019480613610140"},
    {"2.322228204E+26", "232222820400000000000000000"},
    {"6.36097780706E-21", "0.00000000000000000000636097780706"},
    {"7.3972E-19", "0.00000000000000000073972"},
    {"7.7361334210243811211226525168218238E+13", "77361334210243.811211226525168218238"},
    {"-3.238391573148711E-14", "-0.00000000000003238391573148711"},
    {"-6.8796122730974807501E-36", "-0.0000000000000000000000000000000000068796122730974807501"},
    {"4.23444581456930030577448148E+17", "423444581456930030.577448148"},
    {"7.3148E-5", "0.000073148"},
    {"8.7631196382927209930701E-37", "0.00000000000000000000000000000000000087631196382927209930701"},
    {"8.03634785944502825E-38", "0.0000000000000000000000000000000000000803634785944502825"},
    {"7.0502068370708729651E+4", "70502.068370708729651"},
    {"-6.9782937990168582729479E+33", "-6978293799016858272947900000000000"},
    {"3.575E-29", "0.00000000000000000000000000003575"},
    {"-2.5743927027594299451314236E+25", "-25743927027594299451314236"},
    {"-8.79695030E+25", "-87969503000000000000000000"},
    {"-845170200198685204077419338E-16", "-84517020019.8685204077419338"},
    {"2.54052892093E-44", "0.0000000000000000000000000000000000000000000254052892093"},
    {"3.10366133445E+8", "310366133.445"},
    {"8.13971648992618887616E+54", "8139716489926188876160000000000000000000000000000000000"},
    {"7.481E+29", "748100000000000000000000000000"},
    {"-7.4512045927321690962201773E-38", "-0.000000000000000000000000000000000000074512045927321690962201773"},
    {"-2.2842528558129E+31", "-22842528558129000000000000000000"},
    {"9E-26", "0.00000000000000000000000009"},
    {"8.5003067100088237941408E+55", "85003067100088237941408000000000000000000000000000000000"},
    {"-5.0064110000901500E+15", "-5006411000090150.0"},
    {"-7.7918203240280838781516377750234E-35", "-0.000000000000000000000000000000000077918203240280838781516377750234"},
    {"9043788498790005581925E-25", "0.0009043788498790005581925"},
    {"5.0910516207736E+24", "5091051620773600000000000"},
    {"8.965272122765107504635162053810950E-12", "0.000000000008965272122765107504635162053810950"},
    {"7.3971331623E+19", "73971331623000000000"},
    {"9.13679616607826E-21", "0.00000000000000000000913679616607826"},
    {"3.5086238555780048057028967E+18", "3508623855578004805.7028967"},
    {"3E-10", "0.0000000003"},
    {"6.060012088328E-1", "0.6060012088328"},
    {"1.23486571641448251139483E-20", "0.0000000000000000000123486571641448251139483"},
    {"6.251126451464769220275322671265E+46", "62511264514647692202753226712650000000000000000"},
    {"1.2813904098925573665753E-8", "0.000000012813904098925573665753"},
    {"-7.632923629951E-3", "-0.007632923629951"},
    {"2.3389420529238126981649972E+14", "233894205292381.26981649972"},
    {"-8.321359594E+25", "-83213595940000000000000000"},
    {"1.0E-28", "0.00000000000000000000000000010"},
    {"4.90532691708E-8", "0.0000000490532691708"},
    {"4.89656882071521835825E-18", "0.00000000000000000489656882071521835825"},
    {"7.5813870753604069999826E-26", "0.000000000000000000000000075813870753604069999826"},
    {"-5.6E+32", "-560000000000000000000000000000000"},
    {"7.40223519E-30", "0.00000000000000000000000000000740223519"},
    {"6.18304400492472386736E-32", "0.0000000000000000000000000000000618304400492472386736"},
    {"4.071E-40", "0.0000000000000000000000000000000000000004071"},
    {"986472059217526337710712034544940E-37", "0.0000986472059217526337710712034544940"},
    {"8.99176214723905020942046974432960E+20", "899176214723905020942.046974432960"},
    {"7.070927777836865681814147827358E-12", "0.000000000007070927777836865681814147827358"},
    {"7.876282825169E-30", "0.000000000000000000000000000007876282825169"},
    {"2.89081793954633113989E-18", "0.00000000000000000289081793954633113989"},
    {"-2.0729474E+8", "-207294740"},
    {"5.02227527E-33", "0.00000000000000000000000000000000502227527"},
  };
  for (const Row& row : rows) {
    auto got = expand_exponent(row.text);
    CHECK(got.has_value());
    if (!got) continue;
    std::string_view plain = row.plain;
    std::size_t point = plain.find('.');
    std::size_t int_digits = (point == plain.npos ? plain.size() : point) - (plain[0] == '-');
    std::size_t fraction_digits = point == plain.npos ? 0 : plain.size() - point - 1;
    if (int_digits <= 29 && fraction_digits <= 29) {
      if (*got != plain) std::printf("  %s: got %s\n", row.text, got->c_str());
      CHECK_EQ(*got, plain);
    } else {
      // Shortened, but the reader cannot tell it from the full text.
      CHECK(got->size() <= 60);
      for (DecimalMode mode : kBoth) CHECK_EQ(outcome(*got, mode), outcome(plain, mode));
    }
  }
}

TEST_CASE("decimal: expansion refuses other shapes and stays small") {
  const char* refused[] = {"",   "NaN",  "-NaN", "sNaN",  "Infinity", "-Infinity", "1",        "1.5",
                           "E+2", "1E",  "1E+",  "1E+2x", "1_0E+2",   "1.2.3E+1",  " 1E+2",    "1E+2 ",
                           "-E5", "1EE2", "1E+-2", "0x1E2", "1.5E2.0"};
  for (const char* t : refused) {
    CHECK(!expand_exponent(t).has_value());
    if (expand_exponent(t)) std::printf("  accepted %s\n", t);
  }
  // Huge exponents are capped, with the outcome of the full text.
  auto huge = expand_exponent("1E+999999999999999999999999");
  CHECK(huge && huge->size() == 30);
  if (huge) CHECK_EQ(outcome(*huge, kRound), "Invalid decimal: overflow from too many digits");
  auto tiny = expand_exponent("-15E-999999999");
  CHECK(tiny && tiny->size() <= 60);
  if (tiny) {
    CHECK_EQ(outcome(*tiny, kRound), "-0.0000000000000000000000000000");
    CHECK_EQ(outcome(*tiny, kExact), "Number has a high precision that can not be represented.");
  }
  CHECK_EQ(expand_exponent("0E+999999999").value_or(""), "0");
}

ZB_TEST_MAIN()
