# Read by ctest after the discovered tests: the long ones start first, so that a parallel run does
# not end waiting for one that started last. A build's own measured times (which ctest keeps in
# Testing/Temporary/CTestCostData.txt) take over from these after its first run.
# Seconds of the release build on an idle machine.
set(cleavix_long_tests
  WithUndo/EditModelSlow.ThousandsOfSequences/Seeds10000To10999 18
  WithUndo/EditModelSlow.ThousandsOfSequences/Seeds11000To11999 18
  WithUndo/EditModelSlow.ThousandsOfSequences/Seeds12000To12999 18
  WithoutUndo/EditModelSlow.ThousandsOfSequences/Seeds20000To20999 14
  SdsRealTime.OneSecondSampleAt31250Baud 47
  SdsSamplerRoundTrip.EveryRateAndLengthByteExact 2.4
  SdsSamplerFaults.OpenLoopReceiveAfterTheSamplersWait 2.0
  SdsCli.FaultsEndWithTheirTextAndExitStatus 1.6
  VirtualBusTest.LateTargetDoesNotHoldUpOtherTargets 1.5
  slicing_hydrogen_kit_render 15)
while(cleavix_long_tests)
  list(POP_FRONT cleavix_long_tests name cost)
  # A name this build does not have is passed over.
  set_tests_properties(${name} PROPERTIES COST ${cost})
endwhile()
